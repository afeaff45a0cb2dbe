// Linux build: the log test's registry lives in a folder of its own, so that
// it neither reads nor changes the user's logging configuration.
#include <gtest/gtest.h>
#include <vwin32.h>

#include <filesystem>
#include <string>

namespace {

class RegistryInTempFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("decode-registry-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder_);
    vw32::SetRegistryFolder(folder_.c_str());
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

 private:
  std::filesystem::path folder_;
};

const auto* const registryEnvironment = ::testing::AddGlobalTestEnvironment(new RegistryInTempFolder);

}  // namespace
