// The adaptor object as the engine makes and sets it, through the module's
// exports: "Format" and its listeners, the band count, and the adaptor's memory.
#include "CardFixture.h"

using imaqhost::PropertySet;

namespace {

constexpr int kRgb = int(imaqhost::kFrameTypeRgb24);
constexpr int kYCbCr = int(imaqhost::kFrameTypeYCbCr422);
const std::int32_t kYCbCrId = 2;

// A property notice under a name of the test's choosing.
struct NamedInfo final : IPropertyInfo {
  NamedInfo(const char* name) : name(name) {}
  const char* propertyName() const override { return name; }
  int storageType() const override { return IMAQ_STORAGE_INT32; }
  const char* name;
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
};

}  // namespace

// Only an exact "Format" notice with a row's identifier changes the frame
// type; while idle nothing is suspended. (The engine's own sets come the
// same way: the acquisition tests set "Format" through the engine.)
TEST_F(ModuleProperties, OnlyAnExactFormatNoticeWithARowsIdentifierChangesTheFrameType) {
  const std::int32_t rgbId = 1, unknownId = 3;
  const std::tuple<const char*, const std::int32_t*, int> steps[] = {
      {"format", &kYCbCrId, kRgb}, {"FormatX", &kYCbCrId, kRgb},    {"Format ", &kYCbCrId, kRgb},
      {" Format", &kYCbCrId, kRgb}, {"FORMAT", &kYCbCrId, kRgb},     {"SyncInput", &kYCbCrId, kRgb},
      {"Format", nullptr, kRgb},    {"Format", &unknownId, kRgb},    {"Format", &kYCbCrId, kYCbCr},
      {"SyncInput", &rgbId, kYCbCr}, {"Format", &rgbId, kRgb},
  };
  EXPECT_EQ(frameType(), kRgb) << "made in the first row's state";
  for (const auto& [name, value, type] : steps) {
    const NamedInfo info(name);
    notifyFormatListener(&info, value);
    EXPECT_EQ(frameType(), type) << "\"" << name << "\" " << (value != nullptr ? std::to_string(*value) : "null");
  }
  EXPECT_EQ(manager().suspendCalls(), 0);
  EXPECT_EQ(manager().resumeCalls(), 0);
}

// A "Format" notice while busy (the engine's own set is refused then) is
// bracketed by suspend and resume, and the next capture takes the new layout.
TEST_F(ModuleProperties, AFormatNoticeWhileBusyIsBracketedAndReachesTheCard) {
  startEndless();
  notifyFormatListener(input().propertySetOnEngineThread().infoOf("SyncInput"), &kYCbCrId);
  EXPECT_EQ(manager().suspendCalls(), 0) << "only \"Format\" suspends";
  notifyFormatListener(input().propertySetOnEngineThread().infoOf("Format"), &kYCbCrId);
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
struct PropertyEngine final : IEngine {
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
  ASSERT_FALSE(imaqhost::collectHardware(module_->entryPoints(), withRecord).has_value());
  imaqhost::HardwareList withoutRecord;
  imaqhost::failNextAllocations(1);  // no memory for the "RS170" record
  ASSERT_FALSE(imaqhost::collectHardware(module_->entryPoints(), withoutRecord).has_value());
  for (const auto& [hardware, format] : {std::pair{&withRecord, "RS170"}, std::pair{&withRecord, "PAL"},
                                         std::pair{&withRecord, "NTSC"}, std::pair{&withoutRecord, "RS170"}}) {
    SCOPED_TRACE(format);
    PropertyEngine engine;
    const long before = imaqhost::liveAllocations();
    IAdaptor* adaptor = module_->entryPoints().createInstance(&engine, hardware->findDevice(1), format);
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

// No memory for the adaptor: none is made. Memory for the adaptor and the
// first listener but none for the second: an engine error, and nothing kept.
TEST_F(ModuleInstances, WithoutMemoryNoAdaptorIsMadeAndNothingIsKept) {
  PropertyEngine engine;
  imaqhost::HardwareList hardware;
  ASSERT_FALSE(imaqhost::collectHardware(module_->entryPoints(), hardware).has_value());
  const long before = imaqhost::liveAllocations();
  imaqhost::failNextAllocations(1);
  EXPECT_EQ(module_->entryPoints().createInstance(&engine, hardware.findDevice(1), "RS170"), nullptr);
  EXPECT_EQ(imaqhost::liveAllocations(), before);

  imaqhost::failNextAllocations(1, 2);
  expectHostError([&] { delete module_->entryPoints().createInstance(&engine, hardware.findDevice(1), "RS170"); },
                  "imaq:vantrelimaq:noMemory", "the adaptor without a listener", "\"Format\"");
  imaqhost::failNextAllocations(0);
  engine.properties.releaseListeners();
  EXPECT_EQ(imaqhost::liveAllocations(), before);
}
