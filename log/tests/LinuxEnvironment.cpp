// Linux build: the tests' registry lives in a folder of their own, so that
// they neither read nor change the user's logging configuration.
#include <gtest/gtest.h>
#include <vwin32.h>

#include <memory>

#include "TestSupport.h"

namespace {

class RegistryInTempFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = std::make_unique<TempFolder>();
    vw32::SetRegistryFolder(folder_->Path().c_str());
  }
  void TearDown() override { folder_.reset(); }

 private:
  std::unique_ptr<TempFolder> folder_;
};

const auto* const registryEnvironment = ::testing::AddGlobalTestEnvironment(new RegistryInTempFolder);

}  // namespace
