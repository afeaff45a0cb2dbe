// The record that the catalogue attaches to its default format, read back as
// the adaptor reads it: by a dynamic down-cast from the host's IMAQInterface.
#include "Catalogue.h"
#include "ImaqHost.h"
#include "VantrelFormat.h"

#include <gtest/gtest.h>

TEST(FormatRecord, RS170CarriesAVantrelFormatWithItsNominalValues) {
  imaqhost::HardwareList hardware;
  vantrel::describeHardware(hardware);
  const imaqhost::DeviceEntry* device = hardware.findDevice(vantrel::kDeviceId);
  ASSERT_NE(device, nullptr);

  const auto* record = dynamic_cast<const VantrelFormat*>(device->findFormatEntry("RS170")->adaptorData());
  ASSERT_NE(record, nullptr) << "RS170 carries no VantrelFormat";
  EXPECT_EQ(record->nominalHeight, 480);
  EXPECT_EQ(record->nominalWidth, 640);
  EXPECT_EQ(record->bandCount, 3);
  EXPECT_EQ(record->formatCode, 2);
}
