// The stand-in acquisition engine: a video input object that drives an
// adaptor as the toolbox does. Operations and property notices run on the
// input's engine thread; frames arrive on the adaptor's grab thread and wait
// in a bounded queue until the user takes them. Plain C++.
#pragma once

#include "ImaqHost.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace imaqhost {

class EngineThread;
class FrameQueue;

// Identifiers of the errors the engine raises for the user.
inline constexpr const char* kUnknownProperty = "imaq:host:unknownProperty";
inline constexpr const char* kInvalidValue = "imaq:host:invalidValue";
inline constexpr const char* kReadOnly = "imaq:host:readOnly";
inline constexpr const char* kNoDevice = "imaq:host:noDevice";
inline constexpr const char* kNoAdaptor = "imaq:host:noAdaptor";
inline constexpr const char* kAlreadyRunning = "imaq:host:running";
inline constexpr const char* kOpenFailed = "imaq:host:openFailed";
inline constexpr const char* kBeginFailed = "imaq:host:beginFailed";

// ---- Frame types ---------------------------------------------------------------------
struct FrameTypeInfo {
  std::uint32_t code;
  const char* name;
  int bytesPerPixel;  // of the packed rows copyImage takes
};
inline constexpr std::uint32_t kFrameTypeRgb24 = 0x01030001;     // 3 bytes: blue, green, red
inline constexpr std::uint32_t kFrameTypeYCbCr422 = 0x03030000;  // 2 bytes: Y0 Cb Y1 Cr per pixel pair
// The frame types the engine knows, or null.
IMAQKIT_API const FrameTypeInfo* findFrameType(std::uint32_t code);

// ---- Frame pool ------------------------------------------------------------------------
// The pixel buffers of released frames, handed out again, as a real engine
// recycles its frame memory: a buffer of the size asked for comes back as it
// was left, not cleared, so that in steady state no frame memory is
// allocated or first touched per frame. Buffers of another size than the
// latest asked for are freed; at most `spareLimit` are kept. Shared by the
// video input and its frames, which the user may keep after the input.
class IMAQKIT_API FramePool {
 public:
  explicit FramePool(std::size_t spareLimit) : spareLimit_(spareLimit) {}
  // A kept buffer of `bytes`, or a new zero-filled one.
  std::vector<std::uint8_t> take(std::size_t bytes);
  void giveBack(std::vector<std::uint8_t>&& pixels);
  void setSpareLimit(std::size_t buffers);
  std::size_t spareBuffers() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::vector<std::uint8_t>> spare_;
  std::size_t bytes_ = 0;  // the size latest asked for
  std::size_t spareLimit_;
};

// ---- Engine frames ---------------------------------------------------------------------
// A frame the engine made for an adaptor: its type, size, packed pixels and
// time stamp. The engine numbers delivered frames from 1 in each acquisition.
class IMAQKIT_API EngineFrame final : public IEngineFrame {
 public:
  // Pixels zero-filled, or, with a pool, a recycled buffer that goes back to
  // the pool when the frame is destroyed.
  EngineFrame(const FrameTypeInfo& type, int width, int height, std::shared_ptr<FramePool> pool = nullptr);
  ~EngineFrame();
  EngineFrame(const EngineFrame&) = delete;
  EngineFrame& operator=(const EngineFrame&) = delete;
  // Refuses (kBadArgument) a region that does not lie inside the frame.
  void copyImage(const void* pixels, int width, int height, int x, int y) override;
  void setTimeStamp(double seconds) override { timeStamp_ = seconds; }

  std::uint32_t frameType() const { return type_.code; }
  const FrameTypeInfo& typeInfo() const { return type_; }
  int width() const { return width_; }
  int height() const { return height_; }
  std::size_t rowBytes() const { return std::size_t(width_) * std::size_t(type_.bytesPerPixel); }
  double timeStamp() const { return timeStamp_; }
  const std::vector<std::uint8_t>& pixels() const { return pixels_; }
  unsigned long long number() const { return number_; }
  void setNumber(unsigned long long number) { number_ = number; }

 private:
  const FrameTypeInfo& type_;
  int width_;
  int height_;
  double timeStamp_ = 0.0;
  unsigned long long number_ = 0;
  std::shared_ptr<FramePool> pool_;
  std::vector<std::uint8_t> pixels_;
};

// ---- Property set --------------------------------------------------------------------------
// The engine's properties with their current values and the listeners the
// adaptor registered. Only the engine thread uses it.
class IMAQKIT_API PropertySet final : public IPropertySet {
 public:
  enum class Kind { Enumerated, Integer, Text };
  struct Property;

  PropertySet();
  ~PropertySet();
  PropertySet(const PropertySet&) = delete;
  PropertySet& operator=(const PropertySet&) = delete;

  // Properties as the adaptor declared them, after the engine's own.
  void addDeclared(const PropertyBuilder& declared);
  void addProperty(const std::string& name, Kind kind, const std::string& initial,
                   const std::string& readOnlyMode = "");

  int propertyCount() const override;
  void propertyNames(const char** names) const override;
  // Unknown names are refused (kBadArgument); the listener is released.
  void addListener(const char* name, IPropPostSetListener* listener) override;

  // Checks and stores a value given as text, then calls the property's
  // listeners with it. Refuses unknown properties, values that are not
  // among an enumerated property's values or not whole numbers (0 or more)
  // for an integer property, and read-only
  // properties while `running`; the stored value is then unchanged.
  void set(const std::string& name, const std::string& value, bool running);
  std::string get(const std::string& name) const;
  std::vector<std::string> enumValues(const std::string& name) const;
  // The adaptor's listeners of one property, and the notice it would get.
  std::vector<IPropPostSetListener*> listenersOf(const std::string& name) const;
  const IPropertyInfo* infoOf(const std::string& name) const;
  // Runs the property's listeners with `value`, as after a set.
  void notify(const std::string& name, const void* value) const;
  // Releases every listener (their code is the adaptor module's).
  void releaseListeners();

 private:
  Property& find(const std::string& name) const;

  std::vector<std::unique_ptr<Property>> properties_;
};

// ---- Video input ---------------------------------------------------------------------------
struct AcquisitionEvent {
  enum class Kind { Start, Trigger, Stop, Error, Warning };
  Kind kind;
  double time;  // engine clock
  std::string identifier;
  std::string message;
};
IMAQKIT_API const char* eventName(AcquisitionEvent::Kind kind);

// What the host measured of the adaptor's work on delivered frames, on the
// engine clock: from the adaptor's wantsFrame query to its makeFrame call
// (decoding and buffer handling) and to its deliverFrame call (all of it);
// and, apart, the engine's own making of the frames inside makeFrame.
struct DeliveryTiming {
  unsigned long long frames = 0;
  double toMakeFrameSeconds = 0.0;
  double toDeliverSeconds = 0.0;
  double makingFrameSeconds = 0.0;
};

// The adaptor's maximum frame size, read when the video input is made; 0 x 0
// when the device does not know it yet (a card without a camera or signal).
struct VideoResolution {
  int width = 0;
  int height = 0;
};

class IMAQKIT_API VideoInput final : private IEngine, private ManagerListener {
 public:
  // Like videoinput(adaptor, deviceId, format): lists the adaptor's hardware,
  // builds the property set from the device's attributes and creates the
  // adaptor on the engine thread. An empty format name picks the device's
  // default format. Throws HostError when any step fails.
  static std::unique_ptr<VideoInput> create(const AdaptorEntryPoints& adaptor, int deviceId = 1,
                                            const std::string& formatName = "");
  // Stops a running acquisition, closes the card, destroys the adaptor and
  // releases its listeners, all on the engine thread.
  ~VideoInput();
  VideoInput(const VideoInput&) = delete;
  VideoInput& operator=(const VideoInput&) = delete;

  // Properties: the device's, and the engine's "FramesPerTrigger" (0: until
  // stopped) and "Tag". Throws HostError for a refused value.
  void set(const std::string& name, const std::string& value);
  std::string get(const std::string& name) const;
  std::vector<std::string> propertyNames() const;
  // The queue's capacity is also the number of spare frame buffers kept.
  void setQueueCapacity(std::size_t frames);
  std::size_t spareFrameBuffers() const { return framePool_->spareBuffers(); }

  // Opens the card, begins capture and triggers at once. Throws HostError
  // when the card does not open or capture does not begin.
  void start();
  void stop();
  bool isRunning() const;
  // True once the acquisition has stopped (frames acquired, stop, or error).
  bool waitUntilStopped(std::chrono::milliseconds timeout) const;

  // Frames: waits for `count` delivered frames (false: fewer came before
  // the acquisition stopped or the timeout passed), takes up to `count`.
  bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout);
  std::vector<std::unique_ptr<EngineFrame>> getData(std::size_t count);
  std::size_t framesAvailable() const;
  unsigned long long framesAcquired() const { return framesDelivered_; }
  unsigned long long framesDropped() const;

  std::vector<AcquisitionEvent> events() const;
  // The first device error of the latest acquisition, as the user sees it.
  std::optional<HostError> lastError() const;
  DeliveryTiming timing() const;
  VideoResolution videoResolution() const { return resolution_; }

  IAdaptor& adaptor() const { return *adaptor_; }
  AdaptorManager& manager() const { return *managerOf(*adaptor_); }
  const std::string& formatName() const { return formatName_; }
  // Runs `task` on the engine thread and waits for it; its exception passes on.
  void onEngineThread(const std::function<void()>& task);
  // The property set, for work on the engine thread (onEngineThread).
  PropertySet& propertySetOnEngineThread() { return properties_; }

 private:
  VideoInput(const AdaptorEntryPoints& adaptor, int deviceId, const std::string& formatName);

  // IEngine, for the adaptor.
  IEngineFrame* makeFrame(std::uint32_t frameType, int width, int height) override;
  void deliverFrame(IEngineFrame* frame) override;
  IPropertySet* propertySet() override;
  // ManagerListener: reports on the engine thread, counted frames on the grab thread.
  void deviceErrorReported(const std::string& identifier, const std::string& message) override;
  void warningReported(const std::string& identifier, const std::string& message) override;
  void stopRequested() override;
  void frameTargetReached() override;
  void resumeRequested() override;
  void frameCounted() override;

  void startOnEngine();
  void stopOnEngine();
  void restartCaptureOnEngine();
  void addEvent(AcquisitionEvent::Kind kind, const std::string& identifier = "",
                const std::string& message = "");
  void postStop();

  HardwareList hardware_;
  std::string formatName_;
  PropertySet properties_;
  std::shared_ptr<FramePool> framePool_;
  std::unique_ptr<FrameQueue> queue_;
  std::unique_ptr<EngineThread> engine_;
  IAdaptor* adaptor_ = nullptr;
  bool cardOpen_ = false;  // engine thread only
  std::atomic<bool> running_{false};
  std::atomic<unsigned long long> framesDelivered_{0};
  std::atomic<bool> checkPending_{false};  // a check of the adaptor is queued
  VideoResolution resolution_;

  mutable std::mutex stateLock_;  // events, error, timing, stop wake-up
  mutable std::condition_variable stopped_;
  std::vector<AcquisitionEvent> events_;
  std::optional<HostError> lastError_;
  DeliveryTiming timing_;
};

}  // namespace imaqhost
