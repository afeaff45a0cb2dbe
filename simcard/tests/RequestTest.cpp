// The driver's requests: listing, sizes, camera status and its event.
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

// One check of the record sizes serves every code: the lock's reply, one
// byte short, is refused with nothing written; its input, one byte short, too.
TEST_F(SimTest, ShortBuffersAndUnknownCodesFailAsADriverDoes) {
  Session s;
  std::vector<uint8_t> in = Header(s.id()), out(64, 0xEE);
  DWORD bytes = 99;
  EXPECT_EQ(Async(s.device(), VTXCTL_DMA_LOCK_BUFFER, in, out.data(), 40).Wait(&bytes),
            DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::make_tuple(bytes, out[0]), std::make_tuple(DWORD(0), uint8_t(0xEE)));
  in.pop_back();
  EXPECT_EQ(Async(s.device(), VTXCTL_DMA_LOCK_BUFFER, in, out.data(), 41).Wait(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Async(s.device(), VTXCTL_DMA_QUEUE_BUFFER + 4, {}, out.data(), 64).Wait(), DWORD(ERROR_INVALID_FUNCTION));
}

// Format, signal, width, height, measured rate and register 34 as the driver reports them.
std::tuple<int, int, int, int, uint32_t, int> VideoState(Session& s) {
  VtxVideoStatusOut status;
  VtxVideoSizeOut size;
  VtxGrabStatOut stat;
  VtxReadI2COut value;
  const uint8_t reg = 34;
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
  // No camera: no signal, no size, format not settled, no rate, register 34 reads 0.
  sim().SetCameraConnected(false);
  EXPECT_EQ(VideoState(s), std::make_tuple(0xFF, 0, 0, 0, 0u, 0));
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
      {"pacing", [](vsim::Simulator& m) { m.SetPacing(vsim::Pacing::FreeRunning); }, false},
  };
  for (const Step& step : steps) {
    step.change(sim());
    EXPECT_EQ(WaitForSingleObject(mine, 0), step.signalled ? WAIT_OBJECT_0 : DWORD(WAIT_TIMEOUT)) << step.what;
  }
  CloseHandle(mine);
}

}  // namespace
}  // namespace simtest
