// Linux build: the tests' registry is a folder of their own, not the user's.
#include <gtest/gtest.h>
#include <vwin32.h>

#include <optional>

#include "TestSupport.h"

namespace {

struct RegistryInTempFolder : ::testing::Environment {
  void SetUp() override { vw32::SetRegistryFolder(folder.emplace().path.c_str()); }
  void TearDown() override { folder.reset(); }
  std::optional<TempFolder> folder;
};

const auto* const registryEnvironment = ::testing::AddGlobalTestEnvironment(new RegistryInTempFolder);

}  // namespace
