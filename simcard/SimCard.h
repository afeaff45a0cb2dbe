// The simulated Vantrel capture card and its driver, for the Linux build.
// The driver registers with the Win32 layer's I/O manager and answers every
// request of the card's driver interface; the card model behind it makes
// frames of a test pattern and paces them like a camera. Tests and the
// command line tool drive it through this control interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vsim {

// HD-SDI video modes the simulated camera can send.
enum class VideoMode {
  HD1080i25,     // 1920x1080 interlaced, 25 frames/s
  HD1080i2997,   // 1920x1080 interlaced, 29.97 frames/s
  HD1080p2398,   // 1920x1080 progressive, 23.98 frames/s
  HD1080p24,
  HD1080p25,
  HD1080p30,
  HD1080p50,
  HD1080p60,
  HD720p50,      // 1280x720 progressive, 50 frames/s
  HD720p60,
};

struct ModeInfo {
  VideoMode mode;
  const char* name;       // "1080i25", "1080i29.97", "1080p23.98", "1080p60", "720p50", ...
  uint16_t width;
  uint16_t height;
  bool interlaced;
  double framesPerSecond;
  uint8_t videoFormatCode;  // the driver's video format code for this mode
  // The exact frame rate as a fraction (30000/1001 for 29.97), for the frame clock.
  uint32_t rateNumerator;
  uint32_t rateDenominator;
};
const ModeInfo& Describe(VideoMode mode);
const std::vector<ModeInfo>& AllModes();
// Parses a mode name as listed by AllModes(); false if unknown.
bool ParseMode(const std::string& name, VideoMode* mode);

enum class Pacing {
  RealTime,     // one frame per frame period of the mode
  FreeRunning,  // as fast as buffers come back (benchmarks, soak tests)
};

struct CardConfig {
  uint32_t slotNumber = 1;
  std::wstring slotName = L"PCIe Slot 1";
  bool refuseSessions = false;  // VTXCTL_OPEN_SESSION answers a driver error
};

struct Counters {
  uint64_t framesDelivered = 0;  // lock requests completed with a frame
  uint64_t framesDropped = 0;    // frames the card had no free buffer for
  uint64_t dmaErrors = 0;        // frames delivered with a nonzero dmaStatus
  uint32_t accessMask = 0;       // the last VTXCTL_SET_DMA_ACCESS mask
  uint32_t openSessions = 0;
  uint32_t prepareCount = 0;     // VTXCTL_DMA_PREPARE requests answered
  uint32_t unlockCount = 0;
  uint64_t framesCaptured = 0;   // frames the card received while grabbing (delivered or dropped)
  uint32_t pendingRequests = 0;  // requests the driver holds at this moment
};

// The driverResult values the simulated driver answers when it refuses a
// request (the reply's first u32; any nonzero value marks a failure).
enum DriverResult : uint32_t {
  kResultOk = 0,
  kResultBadParameter = 0x01,    // a field of the input is out of range
  kResultNoSession = 0x02,       // the header's session id is not this handle's session
  kResultSessionRefused = 0x03,  // the card accepts no session (CardConfig::refuseSessions)
  kResultNoAccess = 0x04,        // the channel's DMA access is not held by this handle
  kResultAccessBusy = 0x05,      // another handle holds the channel's DMA access
  kResultNotPrepared = 0x06,     // no prepared frame layout or no queued buffer
  kResultNoVideo = 0x07,         // no camera signal to prepare for
  kResultBadChannel = 0x08,      // a channel other than 0
  kResultBadBuffer = 0x09,       // unlock of a buffer the caller does not hold
};

// The simulator: one per process, created by Start and torn down by Stop.
// Every call is safe from any thread.
class Simulator {
 public:
  // Registers the driver, creates the named hot-plug events and inserts
  // `cards` cards (default: one card, camera connected, 1080i25, real time).
  // A second Start without Stop returns the running simulator unchanged.
  static Simulator& Start(int cards = 1);
  static void Stop();
  static Simulator* Instance();  // null when not started

  // Cards.
  virtual int CardCount() const = 0;
  virtual void AddCard(const CardConfig& config) = 0;
  virtual void ConfigureCard(int index, const CardConfig& config) = 0;
  // Removal: the device interface disappears, open handles fail, pending
  // requests complete with an error, "Global\Vtx_Removed_Event" is signalled.
  virtual void RemoveCard(int index) = 0;
  // Arrival: the interface comes back and "Global\Vtx_Added_Event" is signalled.
  virtual void InsertCard(int index) = 0;
  // The device path SetupDi lists for card `index` (present or not).
  virtual std::wstring DevicePath(int index) const = 0;

  // Camera and video (for all cards). A change signals the registered camera event.
  virtual void SetCameraConnected(bool connected) = 0;
  virtual void SetVideoMode(VideoMode mode) = 0;
  virtual void SetSignalPresent(bool present) = 0;
  virtual void SetPacing(Pacing pacing) = 0;
  // Direct control of what the status requests report, to test rate rounding.
  // A negative value returns to what the mode implies.
  virtual void SetMeasuredFps(int framesPerSecond) = 0;
  virtual void SetRegister34(int value) = 0;
  // The next `count` frames carry this nonzero dmaStatus.
  virtual void InjectDmaError(uint32_t dmaStatus, int count = 1) = 0;
  // Requests with this code answer driverResult `result` (0 clears).
  virtual void FailRequest(uint32_t ioctlCode, uint32_t driverResult) = 0;

  // Summed over all cards, and of one card.
  virtual Counters GetCounters() const = 0;
  virtual Counters GetCardCounters(int index) const = 0;

 protected:
  virtual ~Simulator() = default;
};

// The picture the card sends, in 10-bit Y Cb Y Cr samples, so that tests can
// check decoded pixels against it: colour bars of known values, a moving
// element and the frame number.
struct PatternSample {
  uint16_t y0, cb, y1, cr;
};
// The 10-bit samples of pixel pair `pair` of picture line `line` (0-based
// line of the whole frame, in display order) of frame number `frame`.
PatternSample PatternAt(VideoMode mode, uint64_t frame, int line, int pair);
// The colour bars: 10-bit (Y, Cb, Cr) of bar `index` (0..7) from left to right.
PatternSample BarColour(int index);

// What the card's raw layouts make of a sample, for tests that check frames.
// Row pitch in bytes of raw layout `pixelFormat` (0, 1, 2) for `width` pixels.
uint32_t RawRowPitch(int pixelFormat, int width);
// A 10-bit sample as the 8-bit layout carries it.
uint8_t ReduceTo8(uint16_t sample10);
// One pixel of 10-bit (Y, Cb, Cr) as the 24-bit layout carries it.
struct Bgr {
  uint8_t b, g, r;
};
Bgr ConvertToBgr(uint16_t y, uint16_t cb, uint16_t cr);

}  // namespace vsim
