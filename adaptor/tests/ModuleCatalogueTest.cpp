// The module as the engine loads it: only the five entry points are
// exported, the libraries linked in stay hidden. (The catalogue it describes:
// the command-line tool's tests, through the same module.)
#include "AdaptorLoader.h"

#include <gtest/gtest.h>

TEST(ModuleCatalogue, ExportsTheFiveEntryPointsOnly) {
  std::string error;
  const auto module = imaqhost::AdaptorModule::load(VANTRELIMAQ_PATH, error);
  ASSERT_NE(module, nullptr) << error;
  for (const char* name :
       {"initializeAdaptor", "uninitializeAdaptor", "getAvailHW", "getDeviceAttributes", "createInstance"})
    EXPECT_TRUE(module->exports(name)) << name;
  for (const char* name : {"DllMain", "describeHardware", "onGrabbedFrame", "ORNSDI_Init", "ORNSDI_Decode",
                           "LogWrite", "_ZN14VantrelAdaptor14onGrabbedFrameEPvP16ORNSDI_FrameInfo"})
    EXPECT_FALSE(module->exports(name)) << name;
}
