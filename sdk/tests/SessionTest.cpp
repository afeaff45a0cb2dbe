// Sessions, the status word of the I/O control wrapper, argument checks and
// the enumeration of cards.
#include <setupapi.h>

#include <cwchar>
#include <functional>

#include "SdkTestSupport.h"

namespace {

using SessionTest = SessionOpenTest;

constexpr uint32_t kVideoSize = VTXCTL_GET_VIDEO_SIZE;

DWORD VideoSizeRequest(ORNSDI_GIS* session) {
  VtxRequestHeader input{};
  VtxVideoSizeOut reply{};
  return session->Request(kVideoSize, 0, input, reply);
}

TEST_F(SessionTest, DriverResultIsFoldedIntoTheStatusWordAndLoggedOnce) {
  Sim().FailRequest(kVideoSize, 0x1234);
  log_.Clear();
  EXPECT_EQ(VideoSizeRequest(session_), 0xFF340000u);
  LogEntry line = log_.One(L"DeviceIOCtl(0xCE3220C0) returned with result=52(0x00000034).");
  EXPECT_EQ(log_.Messages().size(), 1u);
  EXPECT_EQ(line.code, int(LogFourCC("IOFR")));
  EXPECT_EQ(line.function, "ORNSDI_GIS::IOCtl");
  EXPECT_EQ(line.module, "IO Control wrapper");
  EXPECT_EQ(line.source, L".\\ORNSDI_ioctl");
  // A public call that sends the request returns the failure flag.
  ORNSDI_CameraStatus status{};
  EXPECT_EQ(ORNSDI_GetCameraStatus(session_, 0, &status), ORNSDI_ERR_FAILED);
  Sim().FailRequest(kVideoSize, 0);
  EXPECT_EQ(VideoSizeRequest(session_), 0u);
}

TEST_F(SessionTest, StoppingSessionRefusesRequestsWith995) {
  SetEvent(session_->stopCardEvent);
  log_.Clear();
  EXPECT_EQ(VideoSizeRequest(session_), 0xFF0003E3u);
  EXPECT_EQ(log_.One(L"DeviceIOCtl(0xCE3220C0) failed. ErrorCode=995(0x000003E3).").code, int(LogFourCC("IOFA")));
  EXPECT_EQ(log_.Messages().size(), 1u);
  ResetEvent(session_->stopCardEvent);
  EXPECT_EQ(VideoSizeRequest(session_), 0u);
}

// Each check fails with 1 and one ERROR line with code 1, in a fixed order:
// port, then session, then output pointer.
TEST_F(SessionTest, ArgumentChecksComeFirstAndLogOneLine) {
  struct Case {
    const char* function;
    std::function<uint32_t()> call;
    const wchar_t* message;
  };
  const Case cases[] = {
      {"ORNSDI_Done", [] { return ORNSDI_Done(nullptr); }, L"hGrabber is NULL"},
      {"ORNSDI_GetCameraStatus", [] { return ORNSDI_GetCameraStatus(nullptr, 1, nullptr); }, L"Invalid port 1"},
      {"ORNSDI_GetCameraStatus", [] { return ORNSDI_GetCameraStatus(nullptr, 0, nullptr); }, L"hGrabber is NULL"},
      {"ORNSDI_GetCameraStatus", [this] { return ORNSDI_GetCameraStatus(session_, 0, nullptr); },
       L"pCameraStatus is NULL"},
      {"ORNSDI_IsCameraConnected", [this] { return ORNSDI_IsCameraConnected(session_, 0, nullptr); },
       L"pConnected is NULL"},
      {"ORNSDI_GetGrabStat", [this] { return ORNSDI_GetGrabStat(session_, 2, nullptr); }, L"Invalid port 2"},
      {"ORNSDI_GetGrabStat", [this] { return ORNSDI_GetGrabStat(session_, 0, nullptr); }, L"pGrabStat is NULL"},
      {"ORNSDI_GetDMAAccess", [] { return ORNSDI_GetDMAAccess(nullptr, 0); }, L"hGrabber is NULL"},
      {"ORNSDI_ReleaseDMAAccess", [] { return ORNSDI_ReleaseDMAAccess(nullptr, 1); }, L"Invalid port 1"},
      {"ORNSDI_StartGrab", [] { return ORNSDI_StartGrab(nullptr, 0, 0, nullptr, nullptr, nullptr); },
       L"hGrabber is NULL"},
      {"ORNSDI_StopGrab", [this] { return ORNSDI_StopGrab(session_, 1); }, L"Invalid port 1"},
      {"ORNSDI_EnumNext", [] { return ORNSDI_EnumNext(nullptr, nullptr); }, L"hDevEnum is NULL"},
      {"noexp_ORNSDI_ReadI2C", [] { return noexp_ORNSDI_ReadI2C(nullptr, 0, 34, nullptr); }, L"hGrabber is NULL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    log_.Clear();
    EXPECT_EQ(c.call(), ORNSDI_ERR_ARGUMENT);
    LogEntry line = log_.One(c.message);
    EXPECT_EQ(log_.Messages().size(), 1u);
    EXPECT_EQ(line.function, c.function);
    EXPECT_EQ(line.severity, DWORD(LOG_ERROR));
    EXPECT_EQ(line.code, 1);
  }
}

class TwoCardTest : public SimTest {
 protected:
  TwoCardTest() : SimTest(2) {}
};

const wchar_t* PathOf(const ORNSDI_EnumData& record) {
  return static_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.detailBlock)->DevicePath;
}

TEST_F(TwoCardTest, RecordsCarrySlotsAndInitOpensTheFirstCard) {
  // A name beyond the basic plane arrives from the driver as a surrogate pair.
  Sim().ConfigureCard(0, {3, L"Slot \U0001F600 A", false});
  Sim().ConfigureCard(1, {7, L"Slot B", false});
  ORNSDI_ENUM_HANDLE list = nullptr;
  ASSERT_EQ(ORNSDI_EnumOpen(&list), ORNSDI_OK);
  ORNSDI_EnumData first{}, second{}, none{};
  first.size = second.size = none.size = sizeof(ORNSDI_EnumData);
  ASSERT_EQ(ORNSDI_EnumNext(list, &first), ORNSDI_OK);
  ASSERT_EQ(ORNSDI_EnumNext(list, &second), ORNSDI_OK);
  EXPECT_EQ(ORNSDI_EnumNext(list, &none), ORNSDI_NO_MORE_DEVICES);
  EXPECT_EQ(ORNSDI_EnumNext(list, &none), ORNSDI_NO_MORE_DEVICES);
  none.size = 23;
  log_.Clear();
  EXPECT_EQ(ORNSDI_EnumNext(list, &none), ORNSDI_ERR_ARGUMENT);
  EXPECT_TRUE(log_.Messages().empty());
  EXPECT_EQ(first.slotNumber, 3u);
  EXPECT_STREQ(first.slotName, L"Slot \U0001F600 A");
  EXPECT_EQ(second.slotNumber, 7u);
  EXPECT_STREQ(second.slotName, L"Slot B");

  ORNSDI_GIS* session = Open();
  ASSERT_NE(session, nullptr);
  EXPECT_STREQ(PathOf(first), Sim().DevicePath(0).c_str());
  EXPECT_STREQ(session->devicePath, PathOf(first));
  EXPECT_EQ(Sim().GetCardCounters(0).openSessions, 1u);
  EXPECT_EQ(Sim().GetCardCounters(1).openSessions, 0u);
  EXPECT_EQ(ORNSDI_EnumClose(list), ORNSDI_OK);
  EXPECT_EQ(ORNSDI_Done(session), ORNSDI_OK);
}

TEST_F(TwoCardTest, CardsRefusingSessionsLeaveNoDevice) {
  Sim().ConfigureCard(0, {1, L"A", true});
  Sim().ConfigureCard(1, {2, L"B", true});
  EXPECT_EQ(ORNSDI_Init(), nullptr);
  LogEntry line = log_.One(L"No device left");
  EXPECT_EQ(line.severity, DWORD(LOG_ERROR));
  EXPECT_EQ(line.code, 0);
  EXPECT_EQ(log_.Count(L"No devices present!"), 0u);
  EXPECT_EQ(Sim().GetCounters().openSessions, 0u);
}

}  // namespace
