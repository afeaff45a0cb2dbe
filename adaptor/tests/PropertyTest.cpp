// The adaptor's memory, made by hand as the engine makes it: the band count,
// the "RS170" record, and everything given back through the kit. ("Format"
// and "SyncInput" through the engine: FrameDeliveryTest.)
#include "CardFixture.h"
#include "VantrelFormat.h"

namespace {

// An engine that only holds properties, for making adaptors by hand.
struct PropertyEngine final : IEngine {
  PropertyEngine() {
    properties.addProperty("SyncInput", imaqhost::PropertySet::Kind::Text, "green");
    properties.addProperty("Format", imaqhost::PropertySet::Kind::Text, " RGB_24bit");
  }
  IEngineFrame* makeFrame(std::uint32_t, int, int) override { return nullptr; }
  void deliverFrame(IEngineFrame*) override {}
  IPropertySet* propertySet() override { return &properties; }
  imaqhost::PropertySet properties;
};

using AdaptorMemory = CardFixture;

}  // namespace

// The adaptor and a listener per property come from the kit and go back to
// it; no memory for the adaptor makes none, none for a listener is an engine
// error. Without memory for the "RS170" record the adaptor is made all the same.
TEST_F(AdaptorMemory, BandCountIsThreeAndMemoryGoesBackThroughTheKit) {
  imaqhost::HardwareList withRecord, withoutRecord;
  vantrel::describeHardware(withRecord);
  imaqhost::failNextAllocations(1);
  vantrel::describeHardware(withoutRecord);
  EXPECT_EQ(withoutRecord.findDevice(1)->findFormatEntry("RS170")->adaptorData(), nullptr);
  const auto* record = dynamic_cast<const VantrelFormat*>(withRecord.findDevice(1)->findFormatEntry("RS170")->adaptorData());
  ASSERT_NE(record, nullptr) << "RS170 carries no VantrelFormat";
  EXPECT_EQ(std::tuple(record->nominalWidth, record->nominalHeight, record->bandCount, record->formatCode),
            std::tuple(640, 480, 3, 2));
  PropertyEngine engine;
  const long before = imaqhost::liveAllocations();
  IAdaptor* adaptor = vantrel::createAdaptor(&engine, withoutRecord.findDevice(1), "RS170");
  ASSERT_NE(adaptor, nullptr);
  EXPECT_EQ(imaqhost::liveAllocations(), before + 3) << "the adaptor and a listener per property";
  EXPECT_EQ(adaptor->bandCount(), 3);
  delete adaptor;
  imaqhost::failNextAllocations(1);
  EXPECT_EQ(vantrel::createAdaptor(&engine, withRecord.findDevice(1), "RS170"), nullptr);
  imaqhost::failNextAllocations(1, 2);
  try {
    delete vantrel::createAdaptor(&engine, withRecord.findDevice(1), "RS170");
    ADD_FAILURE() << "no engine error";
  } catch (const imaqhost::HostError& error) {
    EXPECT_EQ(error.identifier(), "imaq:vantrelimaq:noMemory");
  }
  imaqhost::failNextAllocations(0);
  engine.properties.releaseListeners();
  EXPECT_EQ(imaqhost::liveAllocations(), before);
}
