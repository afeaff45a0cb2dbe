// The stand-in engine with a scripted adaptor: what it calls on the engine
// thread, how reports from the adaptor's threads end or restart capture, and
// how properties, frames and the queue behave.
#include "HostTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <tuple>

using namespace imaqhost;

namespace {

constexpr std::chrono::seconds kGuard{60};  // only turns a hang into a failure

void listHardware(IHardwareList* hardware) {
  IDeviceEntry* device = hardware->newDeviceEntry(1, "scripted");
  device->registerFormat(device->newFormatEntry(1, "only"), true);
  hardware->registerDevice(device);
}

void declareAttributes(const IDeviceEntry*, const char*, IPropertyBuilder* properties, ISourceList*, ITriggerList*) {
  IPropertyDefinition* mode = properties->newEnumProperty("Mode", "slow", 7);
  properties->appendEnumValue(mode, "fast", 9);
  properties->setReadOnlyMode(mode, "whileRunning");
  properties->publishProperty(mode);
  properties->publishProperty(properties->newNamedProperty("Gain"));
}

AdaptorEntryPoints scriptedModule() {
  AdaptorEntryPoints module;
  module.initializeAdaptor = module.uninitializeAdaptor = [] {};
  module.getAvailHW = listHardware;
  module.getDeviceAttributes = declareAttributes;
  module.createInstance = [](IEngine* engine, const IDeviceEntry*, const char*) -> IAdaptor* {
    return makeInKitMemory<ScriptedAdaptor>(engine);
  };
  return module;
}

// Records each notice as "name: int32 9", "name: int64 12" or "name: text abc".
struct RecordingListener final : IPropPostSetListener {
  explicit RecordingListener(std::vector<std::string>* notices) : notices(notices) {}
  void propertyWasSet(const IPropertyInfo* info, const void* value) override {
    const int storage = info->storageType();
    notices->push_back(std::string(info->propertyName()) + ": " +
                       (storage == IMAQ_STORAGE_INT32   ? "int32 " + std::to_string(*static_cast<const std::int32_t*>(value))
                        : storage == IMAQ_STORAGE_INT64 ? "int64 " + std::to_string(*static_cast<const std::int64_t*>(value))
                        : storage == IMAQ_STORAGE_TEXT  ? "text " + std::string(static_cast<const char*>(value))
                                                        : "storage " + std::to_string(storage)));
  }
  void applySetting() override {}
  std::vector<std::string>* notices;
};

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    clearThreadRuleBreaches();
    input = VideoInput::create(module);
    adaptor = static_cast<ScriptedAdaptor*>(&input->adaptor());
  }
  // Every call of the adaptor came on its thread.
  void TearDown() override { EXPECT_EQ(threadRuleBreaches(), std::vector<std::string>()); }
  std::vector<std::string> callsAfterWaitingForStop() {
    EXPECT_TRUE(input->waitUntilStopped(kGuard));
    std::vector<std::string> calls;
    input->onEngineThread([&] { calls = adaptor->calls(); });  // after the stop task
    return calls;
  }
  std::vector<AcquisitionEvent::Kind> eventKinds() {
    std::vector<AcquisitionEvent::Kind> kinds;
    for (const AcquisitionEvent& event : input->events()) kinds.push_back(event.kind);
    return kinds;
  }

  AdaptorEntryPoints module = scriptedModule();
  std::unique_ptr<VideoInput> input;
  ScriptedAdaptor* adaptor = nullptr;
};

using Kind = AcquisitionEvent::Kind;
using Calls = std::vector<std::string>;
using ::testing::ElementsAre;

// A frame of the scripted adaptor's grab(n): number n, every byte n.
MATCHER_P(IsFrame, n, "") {
  *result_listener << "frame " << arg->number();
  return arg->number() == std::uint64_t(n) && arg->pixels() == std::vector<std::uint8_t>(24, n);
}

}  // namespace

TEST_F(Engine, AcquiresTheFramesAskedForThenStopsOnItsOwn) {
  input->set("FramesPerTrigger", "3");
  input->start();
  EXPECT_EQ(identifierOf([&] { input->start(); }), kAlreadyRunning) << "a second start";
  std::thread([&] {
    for (std::uint8_t i = 1; i <= 5; ++i) adaptor->grab(i);  // two more than wanted
  }).join();
  EXPECT_EQ(callsAfterWaitingForStop(), (Calls{"open", "begin", "end"}));
  EXPECT_THAT(input->getData(10), ElementsAre(IsFrame(1), IsFrame(2), IsFrame(3)));
  EXPECT_EQ(input->manager().framesCounted(), 5u);
  EXPECT_EQ(eventKinds(), (std::vector<Kind>{Kind::Start, Kind::Trigger, Kind::Stop}));
}

// The grab thread leaves its report; the engine's check after the counted
// frame hands it over on the engine thread.
TEST_F(Engine, AReportLeftByTheGrabThreadEndsTheAcquisitionFromTheEngineThread) {
  for (const bool error : {true, false}) {
    SCOPED_TRACE(error ? "device error" : "stop request");
    input->set("FramesPerTrigger", "0");
    input->start();
    std::thread([&] {
      adaptor->leaveReport([&] {
        if (!error) return adaptor->requestStop();
        adaptor->reportDeviceError("test:lost", "the card went away");
        adaptor->reportDeviceError("test:again", "ignored: the first error ends the acquisition");
      });
      adaptor->grab(1);
    }).join();
    EXPECT_EQ(callsAfterWaitingForStop().back(), "end");
    ASSERT_EQ(input->lastError().has_value(), error);
    if (error) {
      EXPECT_EQ(input->lastError()->identifier(), "test:lost");
      EXPECT_EQ(eventKinds(), (std::vector<Kind>{Kind::Start, Kind::Trigger, Kind::Error, Kind::Stop}));
    }
    EXPECT_THAT(input->getData(5), ElementsAre(IsFrame(1)));
  }
}

// Each breach is recorded, and the call still does its work.
TEST_F(Engine, RecordsKitCallsOnTheGrabThreadOtherThanTheGrabCallsAndEngineCallsOffTheEngineThread) {
  input->set("FramesPerTrigger", "0");
  input->start();
  std::thread([&] {
    adaptor->grab(1);
    adaptor->reportWarning("test:slow", "from the grab thread");
    imaqfree(imaqmalloc(4));
    adaptor->manager()->isAcquisitionBusy();
    adaptor->manager()->engine()->propertySet();
  }).join();
  input->manager().isCaptureRunning();
  EXPECT_EQ(threadRuleBreaches(),
            (std::vector<std::string>{"reportWarning on a grab thread", "imaqmalloc on a grab thread",
                                      "imaqfree on a grab thread", "isAcquisitionBusy on a grab thread",
                                      "propertySet on a grab thread", "isCaptureRunning off the engine thread"}));
  clearThreadRuleBreaches();
  input->stop();
  EXPECT_EQ(eventKinds(), (std::vector<Kind>{Kind::Start, Kind::Trigger, Kind::Warning, Kind::Stop}));
}

TEST_F(Engine, AResumeWhileRunningBeginsCaptureAgainBeforeFramesAreWantedAgain) {
  input->set("FramesPerTrigger", "0");
  input->start();
  input->onEngineThread([&] {
    input->manager().suspendAcquisition();
    EXPECT_FALSE(input->manager().wantsFrame());
    input->manager().resumeAcquisition();
    EXPECT_FALSE(input->manager().wantsFrame()) << "wanted before capture began again";
  });
  input->onEngineThread([&] { EXPECT_TRUE(input->manager().wantsFrame()); });  // after the restart task
  EXPECT_EQ(adaptor->calls(), (Calls{"open", "begin", "end", "begin"}));
  input->stop();
}

TEST_F(Engine, StartFailsWhenTheCardDoesNotOpenOrCaptureDoesNotBegin) {
  for (const auto& [opens, begins, identifier] :
       {std::tuple{false, true, kOpenFailed}, std::tuple{true, false, kBeginFailed}}) {
    adaptor->opens = opens;
    adaptor->begins = begins;
    EXPECT_EQ(identifierOf([&] { input->start(); }), identifier);
    EXPECT_FALSE(input->isRunning());
    input->onEngineThread([&] {
      EXPECT_FALSE(input->manager().isCaptureRunning());
      EXPECT_FALSE(input->manager().isAcquisitionBusy());
    });
    EXPECT_FALSE(input->waitForFrames(1, kGuard)) << "a waiter is not kept waiting";
  }
}

// Refused values reach no listener and leave the value as it was.
TEST_F(Engine, ListenersHearEachKindOfValueAfterTheSetAndRefusedValuesChangeNothing) {
  std::vector<std::string> notices;
  input->onEngineThread([&] {
    PropertySet& properties = input->propertySetOnEngineThread();
    for (const char* name : {"Mode", "Gain", "Tag", "FramesPerTrigger"})
      properties.addListener(name, makeInKitMemory<RecordingListener>(&notices));
  });
  input->set("Mode", "fast");  // an enumerated value arrives as its id
  input->set("Gain", "12");
  input->set("Tag", "left camera");
  EXPECT_EQ(notices, (std::vector<std::string>{"Mode: int32 9", "Gain: int64 12", "Tag: text left camera"}));
  EXPECT_EQ(input->propertyNames(), (std::vector<std::string>{"FramesPerTrigger", "Tag", "Mode", "Gain"}));

  using Refusal = std::tuple<const char*, const char*, const char*, bool>;  // property, value, error, while running
  for (const auto& [property, value, identifier, running] :
       {Refusal{"Mode", "medium", kInvalidValue, false}, Refusal{"Mode", "FAST", kInvalidValue, false},
        Refusal{"Mode", "", kInvalidValue, false}, Refusal{"mode", "slow", kUnknownProperty, false},
        Refusal{"FramesPerTrigger", "-1", kInvalidValue, false},
        Refusal{"FramesPerTrigger", "ten", kInvalidValue, false}, Refusal{"Mode", "slow", kReadOnly, true}}) {
    SCOPED_TRACE(std::string(property) + " = \"" + value + "\"");
    input->set("FramesPerTrigger", "0");
    if (running) input->start();
    notices.clear();
    EXPECT_EQ(identifierOf([&] { input->set(property, value); }), identifier);
    input->stop();
    EXPECT_EQ(notices.size(), 0u);
    EXPECT_EQ(input->get("Mode"), "fast");
    EXPECT_EQ(input->get("FramesPerTrigger"), "0");
  }
}

TEST(EngineFrames, RefuseRegionsOutsideTheFrameAndUnknownTypes) {
  EngineFrame frame(*findFrameType(kFrameTypeYCbCr422), 4, 3);
  const std::vector<std::uint8_t> pixels(4 * 3 * 2, 0xAB);
  for (const auto& [width, height, x, y] : {std::array{4, 3, 1, 0}, {4, 4, 0, 0}, {1, 1, -1, 0}, {2, 1, 3, 2}}) {
    EXPECT_THROW(frame.copyImage(pixels.data(), width, height, x, y), HostError)
        << width << "x" << height << " at " << x << "," << y;
  }
  frame.copyImage(pixels.data(), 2, 1, 2, 2);  // the last pixel pair of the last row
  EXPECT_EQ(frame.pixels()[4 * 2 * 2 + 4], 0xAB);
  EXPECT_EQ(frame.pixels()[4 * 2 * 2 + 3], 0x00);
  EXPECT_EQ(findFrameType(0x01000001), nullptr);
}

// A released frame's buffer is the next frame's, as it was left; another
// size frees the kept ones; frames may outlive the pool's other owner.
TEST(EngineFramePool, HandsReleasedBuffersOutAgainUnclearedUpToItsLimit) {
  const FrameTypeInfo& rgb = *findFrameType(kFrameTypeRgb24);
  auto pool = std::make_shared<FramePool>(2);
  const std::vector<std::uint8_t> pixels(4 * 2 * 3, 0x5A);
  auto first = std::make_unique<EngineFrame>(rgb, 4, 2, pool);
  first->copyImage(pixels.data(), 4, 2, 0, 0);
  const std::uint8_t* buffer = first->pixels().data();
  first.reset();
  EXPECT_EQ(pool->spareBuffers(), 1u);
  auto second = std::make_unique<EngineFrame>(rgb, 4, 2, pool);
  EXPECT_EQ(second->pixels().data(), buffer);
  EXPECT_EQ(second->pixels(), pixels) << "a recycled buffer is not cleared";
  std::vector<std::unique_ptr<EngineFrame>> frames;
  for (int i = 0; i < 3; ++i) frames.push_back(std::make_unique<EngineFrame>(rgb, 4, 2, pool));
  frames.clear();
  EXPECT_EQ(pool->spareBuffers(), 2u) << "kept up to the limit";
  auto other = std::make_unique<EngineFrame>(rgb, 2, 2, pool);
  EXPECT_EQ(pool->spareBuffers(), 0u) << "buffers of the old size are freed";
  second.reset();
  EXPECT_EQ(pool->spareBuffers(), 0u) << "a buffer of the old size is not kept";
  pool.reset();
  other.reset();  // the frame's share keeps the pool alive (sanitizers check)
}

// A full queue drops its oldest frame; a stop ends a wait for more frames
// (the wait has no end of its own that the test could reach). Released and
// dropped frames give their buffers back to the engine's pool.
TEST_F(Engine, AFullQueueDropsItsOldestFrameAndAStopEndsAWaitForMore) {
  input->setQueueCapacity(2);
  input->set("FramesPerTrigger", "0");
  input->start();
  std::thread([&] {
    for (std::uint8_t i = 1; i <= 3; ++i) adaptor->grab(i);
  }).join();
  EXPECT_EQ(input->framesDropped(), 1u);
  EXPECT_EQ(input->framesAvailable(), 2u);
  std::thread stopper([&] { input->stop(); });
  EXPECT_FALSE(input->waitForFrames(3, std::chrono::hours(24)));
  stopper.join();
  EXPECT_THAT(input->getData(5), ElementsAre(IsFrame(2), IsFrame(3)));  // then released
  EXPECT_EQ(input->spareFrameBuffers(), 2u);
}
