// The adaptor object as the engine makes and sets it, through the module's
// exports: "Format" and its listeners, the engine's checks of property
// values, the band count, and the adaptor's memory.
#include "CardFixture.h"

#include <cstring>

using imaqhost::HostError;
using imaqhost::PropertySet;

namespace {

constexpr int kRgb = int(imaqhost::kFrameTypeRgb24);
constexpr int kYCbCr = int(imaqhost::kFrameTypeYCbCr422);

// A property notice under a name of the test's choosing.
class NamedInfo final : public IPropertyInfo {
 public:
  NamedInfo(const char* name, int storage) : name_(name), storage_(storage) {}
  const char* propertyName() const override { return name_; }
  int storageType() const override { return storage_; }

 private:
  const char* name_;
  int storage_;
};

class ModuleProperties : public CardFixture {
 protected:
  int frameType() { return onEngine<int>([&] { return input().adaptor().frameTypeCode(); }); }
  // Hands a notice straight to the adaptor's "Format" listener, on the engine thread.
  void notifyFormatListener(const IPropertyInfo* info, const void* value) {
    input().onEngineThread([&] {
      for (IPropPostSetListener* listener : input().propertySetOnEngineThread().listenersOf("Format"))
        listener->propertyWasSet(info, value);
    });
  }
  void expectRefused(const std::string& name, const std::string& value, const char* identifier) {
    expectHostError([&] { input().set(name, value); }, identifier, name + " = \"" + value + "\"");
  }
};

}  // namespace

TEST_F(ModuleProperties, FormatSelectsTheFrameTypeAndOtherPropertiesChangeNothing) {
  struct Step {
    const char* property;
    const char* value;
    int frameType;
  };
  const Step steps[] = {
      {"Format", "YCrCb_20bit", kYCbCr}, {"SyncInput", "red", kYCbCr},  {"Tag", "Format", kYCbCr},
      {"FramesPerTrigger", "2", kYCbCr}, {"Format", " RGB_24bit", kRgb}, {"SyncInput", "externalSync", kRgb},
  };
  EXPECT_EQ(frameType(), kRgb) << "made in the first row's state";
  for (const Step& step : steps) {
    input().set(step.property, step.value);
    EXPECT_EQ(frameType(), step.frameType) << step.property << " = " << step.value;
    EXPECT_EQ(input().get(step.property), step.value);
  }
  EXPECT_EQ(manager().suspendCalls(), 0) << "nothing is suspended while idle";
  EXPECT_EQ(manager().resumeCalls(), 0);
}

TEST_F(ModuleProperties, TheEngineRefusesValuesTheDeviceDoesNotTakeAndTheAdaptorHearsNothing) {
  input().set("Format", "YCrCb_20bit");
  struct Refusal {
    const char* property;
    const char* value;
    const char* identifier;
  };
  const Refusal refusals[] = {
      {"Format", "RGB_24bit", imaqhost::kInvalidValue},  // without its leading space
      {"Format", "ycrcb_20bit", imaqhost::kInvalidValue},
      {"Format", "", imaqhost::kInvalidValue},
      {"SyncInput", "purple", imaqhost::kInvalidValue},
      {"FramesPerTrigger", "-1", imaqhost::kInvalidValue},
      {"FramesPerTrigger", "ten", imaqhost::kInvalidValue},
      {"format", "YCrCb_20bit", imaqhost::kUnknownProperty},
  };
  for (const Refusal& refusal : refusals) expectRefused(refusal.property, refusal.value, refusal.identifier);
  EXPECT_EQ(input().get("Format"), "YCrCb_20bit");
  EXPECT_EQ(frameType(), kYCbCr);
  try {
    input().set("Format", "RGB");
    ADD_FAILURE() << "\"RGB\" was accepted";
  } catch (const HostError& error) {
    EXPECT_STREQ(error.what(), "\"RGB\" is not a valid value of \"Format\". Valid values: \" RGB_24bit\", \"YCrCb_20bit\".");
  }
}

TEST_F(ModuleProperties, TheListenerTakesOnlyExactFormatNoticesWithAValue) {
  const std::int32_t ycbcr = 2;
  const NamedInfo format("Format", IMAQ_STORAGE_INT32);
  for (const char* name : {"format", "FormatX", "Format ", " Format", "FORMAT", "SyncInput"}) {
    const NamedInfo other(name, IMAQ_STORAGE_INT32);
    notifyFormatListener(&other, &ycbcr);
    EXPECT_EQ(frameType(), kRgb) << "\"" << name << "\" was taken for \"Format\"";
  }
  notifyFormatListener(&format, nullptr);
  EXPECT_EQ(frameType(), kRgb) << "a notice without a value";
  const std::int32_t unknown = 3;
  notifyFormatListener(&format, &unknown);
  EXPECT_EQ(frameType(), kRgb) << "an identifier of neither row";
  notifyFormatListener(&format, &ycbcr);
  EXPECT_EQ(frameType(), kYCbCr);
}

TEST_F(ModuleProperties, FormatIsReadOnlyWhileRunningAndAChangeWhileBusyIsBracketedAndReachesTheCard) {
  startEndless();
  expectRefused("Format", "YCrCb_20bit", imaqhost::kReadOnly);
  expectRefused("SyncInput", "blue", imaqhost::kReadOnly);
  EXPECT_EQ(frameType(), kRgb);

  const std::int32_t ycbcr = 2;
  notifyFormatListener(input().propertySetOnEngineThread().infoOf("SyncInput"), &ycbcr);
  EXPECT_EQ(manager().suspendCalls(), 0) << "only \"Format\" suspends";
  notifyFormatListener(input().propertySetOnEngineThread().infoOf("Format"), &ycbcr);
  EXPECT_EQ(frameType(), kYCbCr);
  EXPECT_EQ(manager().suspendCalls(), 1);
  EXPECT_EQ(manager().resumeCalls(), 1);

  // Every frame carries the layout its type names, before and after the change.
  std::vector<std::unique_ptr<imaqhost::EngineFrame>> frames;
  ASSERT_TRUE(waitUntil([&] {
    for (auto& frame : input().getData(64)) frames.push_back(std::move(frame));
    return !frames.empty() && frames.back()->frameType() == imaqhost::kFrameTypeYCbCr422;
  })) << "no YCrCb frame after the change";
  input().stop();
  for (const auto& frame : frames)
    EXPECT_EQ(cardpattern::mismatch(*frame, vsim::VideoMode::HD1080i25), "") << "frame " << frame->number();
  EXPECT_EQ(manager().suspendDepth(), 0);
  EXPECT_FALSE(input().lastError().has_value());
}

namespace {

// An engine that only holds properties, for making adaptors by hand.
class PropertyEngine final : public IEngine {
 public:
  PropertyEngine() {
    properties.addProperty("SyncInput", PropertySet::Kind::Text, "green");
    properties.addProperty("Format", PropertySet::Kind::Text, " RGB_24bit");
  }
  IEngineFrame* makeFrame(std::uint32_t, int, int) override { return nullptr; }
  void deliverFrame(IEngineFrame*) override {}
  IPropertySet* propertySet() override { return &properties; }
  PropertySet properties;
};

class ModuleInstances : public CardFixture {};

}  // namespace

TEST_F(ModuleInstances, BandCountIsThreeForEveryFormatAndMemoryGoesBackThroughTheKit) {
  imaqhost::HardwareList withRecord;
  ASSERT_FALSE(imaqhost::collectHardware(module_.entryPoints, withRecord).has_value());
  imaqhost::HardwareList withoutRecord;
  imaqhost::failNextAllocations(1);  // no memory for the "RS170" record
  ASSERT_FALSE(imaqhost::collectHardware(module_.entryPoints, withoutRecord).has_value());
  struct Case {
    const imaqhost::HardwareList* hardware;
    const char* format;
  };
  for (const Case& c : {Case{&withRecord, "RS170"}, Case{&withRecord, "PAL"}, Case{&withRecord, "NTSC"},
                        Case{&withoutRecord, "RS170"}}) {
    SCOPED_TRACE(c.format);
    PropertyEngine engine;
    const long before = imaqhost::liveAllocations();
    IAdaptor* adaptor = module_.entryPoints.createInstance(&engine, c.hardware->findDevice(1), c.format);
    ASSERT_NE(adaptor, nullptr);
    EXPECT_EQ(imaqhost::liveAllocations(), before + 3) << "the adaptor and a listener per property";
    EXPECT_EQ(adaptor->bandCount(), 3);
    EXPECT_EQ(engine.properties.listenersOf("SyncInput").size(), 1u);
    EXPECT_EQ(engine.properties.listenersOf("Format").size(), 1u);
    EXPECT_STREQ(adaptor->driverDescription(), "MyDevice_Driver");
    EXPECT_STREQ(adaptor->driverVersion(), "1.0.0");
    EXPECT_TRUE(adaptor->openCard());
    EXPECT_TRUE(adaptor->closeCard());
    delete adaptor;
    engine.properties.releaseListeners();
    EXPECT_EQ(imaqhost::liveAllocations(), before);
  }
}

TEST_F(ModuleInstances, WithoutMemoryNoAdaptorIsMadeAndNothingIsKept) {
  PropertyEngine engine;
  imaqhost::HardwareList hardware;
  ASSERT_FALSE(imaqhost::collectHardware(module_.entryPoints, hardware).has_value());
  const long before = imaqhost::liveAllocations();
  imaqhost::failNextAllocations(1);
  EXPECT_EQ(module_.entryPoints.createInstance(&engine, hardware.findDevice(1), "RS170"), nullptr);
  EXPECT_EQ(imaqhost::liveAllocations(), before);

  // Memory for the adaptor and the first listener, none for the second.
  std::optional<HostError> raised;
  imaqhost::failNextAllocations(1, 2);
  try {
    delete module_.entryPoints.createInstance(&engine, hardware.findDevice(1), "RS170");
  } catch (const HostError& error) {
    raised = error;
  }
  imaqhost::failNextAllocations(0);
  ASSERT_TRUE(raised.has_value()) << "the adaptor was made without a listener";
  EXPECT_EQ(raised->identifier(), "imaq:vantrelimaq:noMemory");
  EXPECT_NE(std::string(raised->what()).find("\"Format\""), std::string::npos) << raised->what();
  engine.properties.releaseListeners();
  EXPECT_EQ(imaqhost::liveAllocations(), before);
}
