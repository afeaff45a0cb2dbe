// The driver's requests one by one: sizes, fields, sessions, camera status.
#include "DriverTestSupport.h"

#include <tuple>

namespace simtest {
namespace {

using vsim::VideoMode;

TEST_F(SimTest, CardsAreListedAndAnswerTheSlotProbe) {
  sim().AddCard(vsim::CardConfig{7, L"Slot \U0001F600 " + std::wstring(300, L'x'), false});
  const std::vector<std::wstring> paths = ListCards();
  ASSERT_EQ(paths, (std::vector<std::wstring>{sim().DevicePath(0), sim().DevicePath(1)}));
  // The slot name in UTF-16 (a surrogate pair for the emoji), cut to 255 units.
  const std::u16string names[2] = {u"PCIe Slot 1", u"Slot \U0001F600 " + std::u16string(255 - 8, u'x')};
  for (int card = 0; card < 2; ++card) {
    // A synchronous probe handle and five zero bytes, as the enumeration sends them.
    HANDLE probe = OpenDevice(paths[card], false);
    ASSERT_NE(probe, INVALID_HANDLE_VALUE);
    VtxSlotInfoOut out;
    std::memset(&out, 0xEE, sizeof out);
    const uint8_t zeros[5] = {};
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(probe, VtxCTL_GET_SLOT_INFO, const_cast<uint8_t*>(zeros), 5, &out, sizeof out, &bytes,
                                nullptr));
    CloseHandle(probe);
    std::u16string name(names[card].size() + 1, u'?');
    std::memcpy(name.data(), out.slotName, name.size() * 2);
    EXPECT_EQ(std::make_tuple(bytes, +out.driverResult, +out.slotNumber, name),
              std::make_tuple(DWORD(520), 0u, card ? 7u : 1u, names[card] + u'\0'));
  }
}

TEST_F(SimTest, ShortBuffersAndUnknownCodesFailAsADriverDoes) {
  Session s;
  struct Case { DWORD code; DWORD in, out; };
  const Case cases[] = {
      {VTXCTL_OPEN_SESSION, 5, 8},        {VtxCTL_GET_SLOT_INFO, 5, 520},  {VTXCTL_GET_VIDEO_STATUS, 5, 10},
      {VTXCTL_SET_DMA_ACCESS, 9, 4},      {VTXCTL_IS_CAMERA_CONNECTED, 5, 5}, {VTXCTL_REGISTER_EVENT, 13, 4},
      {VTXCTL_GET_VIDEO_SIZE, 5, 12},     {VTXCTL_GET_GRAB_STAT, 5, 80},   {VTXCTL_READ_I2C, 6, 6},
      {VTXCTL_DMA_PREPARE, 14, 8},        {VTXCTL_DMA_START_GRABBING, 9, 4}, {VTXCTL_DMA_STOP_GRABBING, 5, 4},
      {VTXCTL_DMA_LOCK_BUFFER, 5, 41},    {VTXCTL_DMA_UNLOCK_BUFFER, 9, 4},
  };
  std::vector<uint8_t> out(600, 0xEE);
  for (const Case& c : cases) {
    std::vector<uint8_t> in = Header(s.id());
    in.resize(c.in, 0);
    DWORD bytes = 99;
    EXPECT_EQ(Call(s.device(), c.code, in, out.data(), c.out - 1, &bytes), DWORD(ERROR_INSUFFICIENT_BUFFER))
        << std::hex << c.code;
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(out[0], 0xEE) << "nothing written, " << std::hex << c.code;
    in.pop_back();
    EXPECT_EQ(Call(s.device(), c.code, in, out.data(), c.out), DWORD(ERROR_INVALID_PARAMETER)) << std::hex << c.code;
  }
  EXPECT_EQ(Call(s.device(), 0xCE322050, Header(s.id()), out.data(), 4), DWORD(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(Call(s.device(), VTXCTL_DMA_QUEUE_BUFFER + 4, {}, out.data(), 64), DWORD(ERROR_INVALID_FUNCTION));
}

TEST_F(SimTest, SessionsCarryTheirIdAndTheWaitStaysPending) {
  Session a, b;
  EXPECT_TRUE(a.id() != VTX_NO_SESSION && a.id() != b.id());
  EXPECT_EQ(sim().GetCounters().openSessions, 2u);
  // Another session's id is refused, the reply otherwise zero.
  VtxCameraConnectedOut out;
  ASSERT_EQ(Call(a.device(), VTXCTL_IS_CAMERA_CONNECTED, Header(b.id()), &out, sizeof out), 0u);
  EXPECT_EQ(std::make_tuple(+out.driverResult, +out.connected), std::make_tuple(uint32_t(vsim::kResultNoSession), 0));
  ASSERT_EQ(a.Request(VTXCTL_IS_CAMERA_CONNECTED, &out), 0u);
  EXPECT_EQ(out.connected, 1);
  // Cancelling one handle ends its wait with "aborted", and no other.
  EXPECT_TRUE(a.sessionWait->Pending());
  CancelIo(a.device());
  EXPECT_EQ(std::make_tuple(a.sessionWait->Wait(), b.sessionWait->Pending()),
            std::make_tuple(DWORD(ERROR_OPERATION_ABORTED), true));
}

TEST_F(SimTest, RefusedSessionsAndInjectedResults) {
  sim().ConfigureCard(0, vsim::CardConfig{1, L"PCIe Slot 1", true});
  HANDLE h = OpenDevice(sim().DevicePath(0), true);
  VtxOpenSessionOut open;
  ASSERT_EQ(Call(h, VTXCTL_OPEN_SESSION, Header(VTX_NO_SESSION), &open, sizeof open), 0u);
  EXPECT_EQ(+open.driverResult, uint32_t(vsim::kResultSessionRefused));
  EXPECT_EQ(sim().GetCounters().openSessions, 0u);
  CloseHandle(h);
  sim().ConfigureCard(0, vsim::CardConfig{});

  Session s;
  VtxVideoSizeOut size;
  for (uint32_t result : {0x1234u, 0u}) {
    sim().FailRequest(VTXCTL_GET_VIDEO_SIZE, result);
    EXPECT_EQ(s.Request(VTXCTL_GET_VIDEO_SIZE, &size), result);
    EXPECT_EQ(+size.width, result ? 0 : 1920);
  }
}

// Format, signal, width, height, measured rate and register `reg` as the driver reports them.
std::tuple<int, int, int, int, uint32_t, int> VideoState(Session& s, uint8_t reg = 34) {
  VtxVideoStatusOut status;
  VtxVideoSizeOut size;
  VtxGrabStatOut stat;
  VtxReadI2COut value;
  EXPECT_EQ(s.Request(VTXCTL_GET_VIDEO_STATUS, &status) | s.Request(VTXCTL_GET_VIDEO_SIZE, &size) |
                s.Request(VTXCTL_GET_GRAB_STAT, &stat) | s.Request(VTXCTL_READ_I2C, &value, &reg, 1),
            0u);
  uint32_t fps;
  std::memcpy(&fps, reinterpret_cast<uint8_t*>(&stat) + VTX_GRABSTAT_FPS, 4);
  return {status.videoFormat, status.signalPresent, size.width, size.height, fps, value.value};
}

TEST_F(SimTest, VideoStatusFollowsTheMode) {
  Session s;
  // Measured rate: the frames of the last second (23.98 counts 24, 29.97 counts 30).
  struct Case { VideoMode mode; int format, width, height; uint32_t fps; int reg34; };
  const Case cases[] = {
      {VideoMode::HD1080i25, 0x01, 1920, 1080, 25, 0x0800},   {VideoMode::HD1080i2997, 0x02, 1920, 1080, 30, 0x0800},
      {VideoMode::HD1080p2398, 0x03, 1920, 1080, 24, 0x2000}, {VideoMode::HD1080p24, 0x04, 1920, 1080, 24, 0x2000},
      {VideoMode::HD1080p25, 0x05, 1920, 1080, 25, 0},        {VideoMode::HD1080p30, 0x06, 1920, 1080, 30, 0},
      {VideoMode::HD1080p50, 0x07, 1920, 1080, 50, 0},        {VideoMode::HD1080p60, 0x08, 1920, 1080, 60, 0},
      {VideoMode::HD720p50, 0x09, 1280, 720, 50, 0},          {VideoMode::HD720p60, 0x0A, 1280, 720, 60, 0},
  };
  for (const Case& c : cases) {
    sim().SetVideoMode(c.mode);
    EXPECT_EQ(VideoState(s), std::make_tuple(c.format, 1, c.width, c.height, c.fps, c.reg34))
        << vsim::Describe(c.mode).name;
  }
  // Rate and register set directly, other registers read 0; -1 returns to the mode's values.
  sim().SetVideoMode(VideoMode::HD1080i25);
  sim().SetMeasuredFps(27);
  sim().SetRegister34(0x2000);
  EXPECT_EQ(VideoState(s), std::make_tuple(1, 1, 1920, 1080, 27u, 0x2000));
  EXPECT_EQ(std::get<5>(VideoState(s, 35)), 0);
  sim().SetMeasuredFps(-1);
  sim().SetRegister34(-1);
  EXPECT_EQ(VideoState(s), std::make_tuple(1, 1, 1920, 1080, 25u, 0x0800));
  // No camera: no signal, no size, format not settled, no rate, register 34 reads 0.
  sim().SetCameraConnected(false);
  EXPECT_EQ(VideoState(s), std::make_tuple(0xFF, 0, 0, 0, 0u, 0));
  VtxCameraConnectedOut connected;
  ASSERT_EQ(s.Request(VTXCTL_IS_CAMERA_CONNECTED, &connected), 0u);
  EXPECT_EQ(connected.connected, 0);
}

TEST_F(SimTest, CameraEventSignalsChangesOnly) {
  Session s;
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_EQ(s.Simple(VTXCTL_REGISTER_EVENT, reinterpret_cast<uint64_t>(event)), 0u);
  // The driver keeps its own reference: the caller may close its handle.
  HANDLE mine = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &mine, 0, FALSE, DUPLICATE_SAME_ACCESS));
  CloseHandle(event);
  struct Step { const char* what; void (*change)(vsim::Simulator&); bool signalled; };
  const Step steps[] = {
      {"same mode", [](vsim::Simulator& m) { m.SetVideoMode(VideoMode::HD1080i25); }, false},
      {"new mode", [](vsim::Simulator& m) { m.SetVideoMode(VideoMode::HD720p60); }, true},
      {"unplugged", [](vsim::Simulator& m) { m.SetCameraConnected(false); }, true},
      {"plugged", [](vsim::Simulator& m) { m.SetCameraConnected(true); }, true},
      {"signal lost", [](vsim::Simulator& m) { m.SetSignalPresent(false); }, true},
      {"pacing", [](vsim::Simulator& m) { m.SetPacing(vsim::Pacing::FreeRunning); }, false},
  };
  for (const Step& step : steps) {
    step.change(sim());
    EXPECT_EQ(WaitForSingleObject(mine, 0), step.signalled ? WAIT_OBJECT_0 : DWORD(WAIT_TIMEOUT)) << step.what;
  }
  CloseHandle(mine);
  // A handle that is no event is refused as such, but only once the reply fits.
  const uint64_t bad = 0x7FFFFFF0;
  EXPECT_EQ(Call(s.device(), VTXCTL_REGISTER_EVENT, Header(s.id(), &bad, sizeof bad), nullptr, 0),
            DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(s.Simple(VTXCTL_REGISTER_EVENT, bad), 0xFFFFFFFFu);
  EXPECT_EQ(s.lastError(), DWORD(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace simtest
