// The video input: creates the adaptor, drives its acquisition on the engine
// thread and takes its frames and reports from the grab thread.
#include "EngineThread.h"
#include "FrameQueue.h"
#include "ImaqEngine.h"
#include "Misuse.h"
#include "ThreadRule.h"

#include <cstdio>

namespace imaqhost {
namespace {

constexpr std::size_t kDefaultQueueFrames = 64;
constexpr const char* kFramesPerTrigger = "FramesPerTrigger";

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", unsigned(value));
  return text;
}

}  // namespace

const char* eventName(AcquisitionEvent::Kind kind) {
  switch (kind) {
    case AcquisitionEvent::Kind::Start: return "Start";
    case AcquisitionEvent::Kind::Trigger: return "Trigger";
    case AcquisitionEvent::Kind::Stop: return "Stop";
    case AcquisitionEvent::Kind::Error: return "Error";
    case AcquisitionEvent::Kind::Warning: return "Warning";
  }
  return "";
}

std::unique_ptr<VideoInput> VideoInput::create(const AdaptorEntryPoints& adaptor, int deviceId,
                                               const std::string& formatName) {
  if (const char* missing = adaptor.firstMissing())
    throw HostError(kNoAdaptor, std::string("The adaptor does not export ") + missing + ".");
  return std::unique_ptr<VideoInput>(new VideoInput(adaptor, deviceId, formatName));
}

VideoInput::VideoInput(const AdaptorEntryPoints& adaptor, int deviceId, const std::string& formatName)
    : framePool_(std::make_shared<FramePool>(kDefaultQueueFrames)),
      queue_(std::make_unique<FrameQueue>(kDefaultQueueFrames)),
      engine_(std::make_unique<EngineThread>()) {
  if (auto error = collectHardware(adaptor, hardware_)) throw *error;
  const DeviceEntry* device = hardware_.findDevice(deviceId);
  if (device == nullptr)
    throw HostError(kNoDevice, "The adaptor offers no device " + std::to_string(deviceId) + ".");
  const FormatEntry* defaultFormat = device->defaultFormat();
  formatName_ = !formatName.empty() ? formatName : defaultFormat != nullptr ? defaultFormat->name() : "";
  if (device->findFormatEntry(formatName_.c_str()) == nullptr)
    throw HostError(kNoDevice, "Device " + std::to_string(deviceId) + " has no format \"" + formatName_ + "\".");
  const DeviceAttributes attributes = collectDeviceAttributes(adaptor, *device, formatName_.c_str());
  if (attributes.error) throw *attributes.error;

  properties_.addProperty(kFramesPerTrigger, PropertySet::Kind::Integer, "10", "whileRunning");
  properties_.addProperty("Tag", PropertySet::Kind::Text, "");
  properties_.addDeclared(attributes.properties);
  engine_->call([&] {
    adaptor_ = adaptor.createInstance(this, device, formatName_.c_str());
    // 0 x 0 is a size the device does not know yet, not a failure.
    if (adaptor_ != nullptr) resolution_ = {adaptor_->maxFrameWidth(), adaptor_->maxFrameHeight()};
  });
  if (adaptor_ == nullptr) throw HostError(kNoAdaptor, "The adaptor could not create its object.");
  manager().setEngineThread(engine_->id());
  manager().setListener(this);
}

VideoInput::~VideoInput() {
  engine_->call([this] {
    try {
      stopOnEngine();
    } catch (const HostError&) {
      // Being deleted: nobody is left to tell.
    }
    if (cardOpen_) adaptor_->closeCard();
    manager().setListener(nullptr);
    delete adaptor_;  // its memory goes back through imaqfree
    adaptor_ = nullptr;
    properties_.releaseListeners();
  });
  engine_.reset();  // tasks the grab thread posted are dropped
}

void VideoInput::onEngineThread(const std::function<void()>& task) { engine_->call(task); }

void VideoInput::set(const std::string& name, const std::string& value) {
  engine_->call([&] { properties_.set(name, value, running_); });
}

std::string VideoInput::get(const std::string& name) const {
  std::string value;
  engine_->call([&] { value = properties_.get(name); });
  return value;
}

std::vector<std::string> VideoInput::propertyNames() const {
  std::vector<std::string> names;
  engine_->call([&] {
    std::vector<const char*> texts(std::size_t(properties_.propertyCount()));
    properties_.propertyNames(texts.data());
    names.assign(texts.begin(), texts.end());
  });
  return names;
}

void VideoInput::setQueueCapacity(std::size_t frames) {
  queue_->setCapacity(frames);
  framePool_->setSpareLimit(frames);
}

void VideoInput::start() { engine_->call([this] { startOnEngine(); }); }

void VideoInput::stop() { engine_->call([this] { stopOnEngine(); }); }

bool VideoInput::isRunning() const { return running_; }

bool VideoInput::waitUntilStopped(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> hold(stateLock_);
  return stopped_.wait_for(hold, timeout, [this] { return !running_; });
}

bool VideoInput::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) {
  return queue_->waitFor(count, timeout);
}

std::vector<std::unique_ptr<EngineFrame>> VideoInput::getData(std::size_t count) { return queue_->take(count); }

std::size_t VideoInput::framesAvailable() const { return queue_->available(); }

unsigned long long VideoInput::framesDropped() const { return queue_->dropped(); }

std::vector<AcquisitionEvent> VideoInput::events() const {
  std::lock_guard<std::mutex> hold(stateLock_);
  return events_;
}

std::optional<HostError> VideoInput::lastError() const {
  std::lock_guard<std::mutex> hold(stateLock_);
  return lastError_;
}

DeliveryTiming VideoInput::timing() const {
  std::lock_guard<std::mutex> hold(stateLock_);
  return timing_;
}

void VideoInput::startOnEngine() {
  if (running_) throw HostError(kAlreadyRunning, "The acquisition is already running.");
  if (!cardOpen_) {
    if (!adaptor_->openCard())
      throw HostError(kOpenFailed, "The device could not be opened: there is no card, or none that opens.");
    cardOpen_ = true;
  }
  const unsigned long long frames = std::stoull(properties_.get(kFramesPerTrigger));
  queue_->clear();
  framesDelivered_ = 0;
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    lastError_.reset();
    timing_ = DeliveryTiming();
    running_ = true;
  }
  addEvent(AcquisitionEvent::Kind::Start);
  manager().startCounting(frames);
  queue_->open();
  manager().setCaptureRunning(true);
  bool began = false;
  try {
    began = adaptor_->beginCapture();
  } catch (...) {
    began = false;
  }
  if (!began) {
    manager().setCaptureRunning(false);
    {
      std::lock_guard<std::mutex> hold(stateLock_);
      running_ = false;
    }
    queue_->close();
    stopped_.notify_all();
    throw HostError(kBeginFailed, "The device could not begin capturing frames.");
  }
  manager().setAcquisitionBusy(true);
  addEvent(AcquisitionEvent::Kind::Trigger);  // immediate trigger
}

void VideoInput::stopOnEngine() {
  if (!running_) return;
  bool ended = true;
  try {
    adaptor_->endCapture();
  } catch (...) {
    ended = false;
  }
  manager().setCaptureRunning(false);
  manager().setAcquisitionBusy(false);
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    running_ = false;
    events_.push_back({AcquisitionEvent::Kind::Stop, getCurrentTime(), "", ""});
  }
  queue_->close();
  stopped_.notify_all();
  if (!ended) throw HostError(kBeginFailed, "The device did not end capturing frames cleanly.");
}

// The adaptor's settings reach the card when capture begins again.
void VideoInput::restartCaptureOnEngine() {
  adaptor_->endCapture();
  manager().setAcquisitionBusy(false);
  if (!adaptor_->beginCapture()) throw HostError(kBeginFailed, "The device could not begin capturing frames again.");
  manager().setAcquisitionBusy(true);
}

void VideoInput::addEvent(AcquisitionEvent::Kind kind, const std::string& identifier, const std::string& message) {
  std::lock_guard<std::mutex> hold(stateLock_);
  events_.push_back({kind, getCurrentTime(), identifier, message});
}

void VideoInput::postStop() {
  engine_->post([this] {
    try {
      stopOnEngine();
    } catch (const HostError& error) {
      deviceErrorReported(error.identifier(), error.what());
    }
  });
}

IPropertySet* VideoInput::propertySet() {
  checkEngineCall("propertySet", engine_->id());
  return &properties_;
}

IEngineFrame* VideoInput::makeFrame(std::uint32_t frameType, int width, int height) {
  const double called = getCurrentTime();
  noteGrabCall(engine_->id());
  const FrameTypeInfo* type = findFrameType(frameType);
  if (type == nullptr) misuse("makeFrame: unknown frame type " + hex(frameType));
  auto* frame = new EngineFrame(*type, width, height, framePool_);
  const double made = getCurrentTime();
  std::lock_guard<std::mutex> hold(stateLock_);
  // The adaptor's part ends where the call begins; the engine's follows.
  timing_.toMakeFrameSeconds += called - manager().lastFrameQueryTime();
  timing_.makingFrameSeconds += made - called;
  return frame;
}

void VideoInput::deliverFrame(IEngineFrame* frame) {
  noteGrabCall(engine_->id());
  auto* made = dynamic_cast<EngineFrame*>(frame);
  if (made == nullptr) misuse("deliverFrame: a frame this engine did not make");
  std::unique_ptr<EngineFrame> kept(made);
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    ++timing_.frames;
    timing_.toDeliverSeconds += getCurrentTime() - manager().lastFrameQueryTime();
  }
  kept->setNumber(++framesDelivered_);
  queue_->push(std::move(kept));
}

void VideoInput::deviceErrorReported(const std::string& identifier, const std::string& message) {
  {
    std::lock_guard<std::mutex> hold(stateLock_);
    if (lastError_) return;  // the first error ends the acquisition; later ones add nothing
    lastError_ = HostError(identifier, message);
    events_.push_back({AcquisitionEvent::Kind::Error, getCurrentTime(), identifier, message});
  }
  postStop();
}

void VideoInput::warningReported(const std::string& identifier, const std::string& message) {
  addEvent(AcquisitionEvent::Kind::Warning, identifier, message);
}

void VideoInput::stopRequested() { postStop(); }

// The adaptor may not report from its grab thread. After frames are counted
// the engine re-reads the adaptor's frame type on its own thread, where the
// adaptor can hand over what its grab thread found (a changed video format
// then ends the acquisition at once). One check is queued at a time.
void VideoInput::frameCounted() {
  if (checkPending_.exchange(true)) return;
  engine_->post([this] {
    checkPending_ = false;
    if (running_) adaptor_->frameTypeCode();
  });
}

void VideoInput::frameTargetReached() { postStop(); }

void VideoInput::resumeRequested() {
  engine_->post([this] {
    try {
      if (running_) restartCaptureOnEngine();
    } catch (const HostError& error) {
      deviceErrorReported(error.identifier(), error.what());
    }
    manager().finishResume();
  });
}

}  // namespace imaqhost
