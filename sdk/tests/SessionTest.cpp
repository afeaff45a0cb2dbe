// Sessions, the status word of the I/O control wrapper, argument checks and
// the enumeration of cards.
#include "SdkTestSupport.h"

namespace {

using SessionTest = SessionOpenTest;

// The driver's result byte and the failure flag in the status word, one
// line (a public call then returns the failure flag: DmaAccessTest); a
// stopping session refuses requests before the driver sees them, with 995.
TEST_F(SessionTest, StatusWordCarriesTheDriverResultOrTheRefusalOfAStoppingSession) {
  Sim().FailRequest(VTXCTL_GET_VIDEO_SIZE, 0x1234);
  log_.Clear();
  VtxRequestHeader input{};
  VtxVideoSizeOut reply{};
  EXPECT_EQ(session_->Request(VTXCTL_GET_VIDEO_SIZE, 0, input, reply), 0xFF340000u);
  EXPECT_EQ(log_.Messages(), std::vector<std::wstring>{L"DeviceIOCtl(0xCE3220C0) returned with result=52(0x00000034)."});
  SetEvent(session_->stopCardEvent);
  log_.Clear();
  EXPECT_EQ(session_->Request(VTXCTL_GET_VIDEO_SIZE, 0, input, reply), 0xFF0003E3u);
  EXPECT_EQ(log_.Messages(), std::vector<std::wstring>{L"DeviceIOCtl(0xCE3220C0) failed. ErrorCode=995(0x000003E3)."});
  ResetEvent(session_->stopCardEvent);
}

// Each check fails with 1 and one ERROR line with code 1, in a fixed order:
// port, then session, then output pointer.
TEST_F(SessionTest, ArgumentChecksComeFirstAndLogOneLine) {
  const std::pair<std::function<uint32_t()>, const wchar_t*> cases[] = {
      {[] { return ORNSDI_Done(nullptr); }, L"hGrabber is NULL"},
      {[] { return ORNSDI_GetCameraStatus(nullptr, 1, nullptr); }, L"Invalid port 1"},
      {[] { return ORNSDI_GetCameraStatus(nullptr, 0, nullptr); }, L"hGrabber is NULL"},
      {[this] { return ORNSDI_GetCameraStatus(session_, 0, nullptr); }, L"pCameraStatus is NULL"},
      {[] { return ORNSDI_EnumNext(nullptr, nullptr); }, L"hDevEnum is NULL"},
  };
  for (const auto& [call, message] : cases) {
    log_.Clear();
    EXPECT_EQ(call(), ORNSDI_ERR_ARGUMENT);
    EXPECT_EQ(log_.Messages(), std::vector<std::wstring>{message});
    EXPECT_EQ(std::tuple(log_.One(message).severity, log_.One(message).code), std::tuple(DWORD(LOG_ERROR), 1));
  }
}

class TwoCardTest : public SimTest {
 protected:
  TwoCardTest() : SimTest(2) {}
};

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
  EXPECT_EQ(std::tuple(first.slotNumber, std::wstring(first.slotName)), std::tuple(3u, std::wstring(L"Slot \U0001F600 A")));
  EXPECT_EQ(std::tuple(second.slotNumber, std::wstring(second.slotName)), std::tuple(7u, std::wstring(L"Slot B")));
  EXPECT_EQ(ORNSDI_EnumClose(list), ORNSDI_OK);
  const ORNSDI_HANDLE session = ORNSDI_Init();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(Sim().GetCardCounters(0).openSessions, 1u);
  EXPECT_EQ(Sim().GetCardCounters(1).openSessions, 0u);
  EXPECT_EQ(ORNSDI_Done(session), ORNSDI_OK);
}

TEST_F(TwoCardTest, CardsRefusingSessionsLeaveNoDevice) {
  Sim().ConfigureCard(0, {1, L"A", true});
  Sim().ConfigureCard(1, {2, L"B", true});
  EXPECT_EQ(ORNSDI_Init(), nullptr);
  EXPECT_EQ(log_.One(L"No device left").severity, DWORD(LOG_ERROR));
  EXPECT_EQ(Sim().GetCounters().openSessions, 0u);
}

}  // namespace
