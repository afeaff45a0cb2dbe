// Registry tests of this program use a registry folder of their own, not
// the user's.
#include <gtest/gtest.h>
#include <unistd.h>
#include <vwin32.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <string>

namespace {

class RegistryFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    // A death test's child process dies without tearing down: it gets none.
    if (std::wcsstr(GetCommandLineW(), L"--gtest_internal_run_death_test")) return;
    char pattern[] = "/tmp/vw32_registry_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    vw32::SetRegistryFolder(folder_.c_str());
  }
  void TearDown() override {
    if (folder_.empty()) return;
    vw32::SetRegistryFolder(nullptr);
    std::filesystem::remove_all(folder_);
  }

 private:
  std::string folder_;
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new RegistryFolder);

}  // namespace
