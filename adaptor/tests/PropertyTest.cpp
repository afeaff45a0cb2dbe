// The adaptor object as the engine makes and sets it: "Format" and its
// listeners, the band count, and the adaptor's memory.
#include "CardFixture.h"
#include "VantrelFormat.h"

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

class Properties : public CardFixture {
 protected:
  int frameType() { return onEngine<int>([](VantrelAdaptor& a) { return a.frameTypeCode(); }); }
  // Hands a notice straight to the adaptor's "Format" listener, on the engine thread.
  void notifyFormatListener(const IPropertyInfo* info, const void* value) {
    input().onEngineThread([&] {
      for (IPropPostSetListener* listener : input().propertySetOnEngineThread().listenersOf("Format"))
        listener->propertyWasSet(info, value);
    });
  }
};

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

}  // namespace

// Only an exact "Format" notice with a row's identifier changes the frame
// type; while idle nothing is suspended. (The engine's own sets come the
// same way: FrameDeliveryTest sets "Format" through the engine.)
TEST_F(Properties, OnlyAnExactFormatNoticeWithARowsIdentifierChangesTheFrameType) {
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
// bracketed by suspend and resume, and the next capture takes the new layout:
// every frame carries the layout its type names, before and after the change.
TEST_F(Properties, AFormatNoticeWhileBusyIsBracketedAndReachesTheCard) {
  startEndless();
  notifyFormatListener(input().propertySetOnEngineThread().infoOf("SyncInput"), &kYCbCrId);
  EXPECT_EQ(manager().suspendCalls(), 0) << "only \"Format\" suspends";
  notifyFormatListener(input().propertySetOnEngineThread().infoOf("Format"), &kYCbCrId);
  EXPECT_EQ(frameType(), kYCbCr);
  EXPECT_EQ(manager().suspendCalls(), 1);
  EXPECT_EQ(manager().resumeCalls(), 1);
  std::vector<std::unique_ptr<imaqhost::EngineFrame>> frames;
  ASSERT_TRUE(waitUntil([&] {
    for (auto& frame : input().getData(64)) frames.push_back(std::move(frame));
    return !frames.empty() && frames.back()->frameType() == imaqhost::kFrameTypeYCbCr422;
  })) << "no YCrCb frame after the change";
  input().stop();
  for (const auto& frame : frames)
    EXPECT_TRUE(showsPattern(*frame, vsim::VideoMode::HD1080i25)) << "frame " << frame->number();
  EXPECT_EQ(manager().suspendDepth(), 0);
  EXPECT_FALSE(input().lastError().has_value());
}

// Kit memory: the adaptor and a listener per property, all given back; no
// memory for the adaptor makes none, none for a listener is an engine error.
TEST_F(Properties, BandCountIsThreeForEveryFormatAndMemoryGoesBackThroughTheKit) {
  imaqhost::HardwareList withRecord, withoutRecord;
  vantrel::describeHardware(withRecord);
  imaqhost::failNextAllocations(1);  // no memory for the "RS170" record
  vantrel::describeHardware(withoutRecord);
  const auto* record = dynamic_cast<const VantrelFormat*>(withRecord.findDevice(1)->findFormatEntry("RS170")->adaptorData());
  ASSERT_NE(record, nullptr) << "RS170 carries no VantrelFormat";
  EXPECT_EQ(std::tuple(record->nominalWidth, record->nominalHeight, record->bandCount, record->formatCode),
            std::tuple(640, 480, 3, 2));
  for (const auto& [hardware, format] : {std::pair{&withRecord, "RS170"}, std::pair{&withRecord, "PAL"},
                                         std::pair{&withRecord, "NTSC"}, std::pair{&withoutRecord, "RS170"}}) {
    SCOPED_TRACE(format);
    PropertyEngine engine;
    const long before = imaqhost::liveAllocations();
    IAdaptor* adaptor = vantrel::createAdaptor(&engine, hardware->findDevice(1), format);
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
  PropertyEngine engine;
  const long before = imaqhost::liveAllocations();
  imaqhost::failNextAllocations(1);
  EXPECT_EQ(vantrel::createAdaptor(&engine, withRecord.findDevice(1), "RS170"), nullptr);
  imaqhost::failNextAllocations(1, 2);
  const std::string error = errorOf([&] { delete vantrel::createAdaptor(&engine, withRecord.findDevice(1), "RS170"); });
  EXPECT_EQ(error.rfind("imaq:vantrelimaq:noMemory: ", 0), 0u) << error;
  EXPECT_NE(error.find("\"Format\""), std::string::npos) << error;
  imaqhost::failNextAllocations(0);
  engine.properties.releaseListeners();
  EXPECT_EQ(imaqhost::liveAllocations(), before);
}
