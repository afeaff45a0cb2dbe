// A module's entry point runs after its static objects are made and before
// they are destroyed, as under the Windows loader.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "DllMainRecord.h"

namespace {

std::vector<std::string> ReadSteps() {
  std::vector<std::string> steps;
  HANDLE file = CreateFileW(DllMainRecordPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return steps;
  char text[4096];
  DWORD n = 0;
  ReadFile(file, text, sizeof text, &n, nullptr);
  CloseHandle(file);
  std::istringstream all(std::string(text, n));
  for (std::string line; std::getline(all, line);) steps.push_back(line);
  return steps;
}

size_t Position(const std::vector<std::string>& steps, const std::string& step) {
  EXPECT_EQ(std::count(steps.begin(), steps.end(), step), 1) << step;
  return size_t(std::find(steps.begin(), steps.end(), step) - steps.begin());
}

TEST(DllMain, RunsBetweenStaticConstructionAndDestruction) {
  DeleteFileW(DllMainRecordPath().c_str());
  HMODULE module = LoadLibraryW(VW32_TEST_MODULE);
  ASSERT_NE(module, nullptr);
  // Through void (*)(): the one function type every other converts to without a warning.
  auto instance = reinterpret_cast<HINSTANCE (*)()>(reinterpret_cast<void (*)()>(GetProcAddress(module, "ModuleInstance")));
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance(), module);  // DllMain got the module handle
  ASSERT_TRUE(FreeLibrary(module));

  auto steps = ReadSteps();
  ASSERT_EQ(steps.size(), 6u);
  const size_t attach = Position(steps, "attach");
  const size_t detach = Position(steps, "detach");
  EXPECT_LT(Position(steps, "module static constructed"), attach);
  EXPECT_LT(Position(steps, "archive static constructed"), attach);
  EXPECT_LT(attach, detach);
  EXPECT_GT(Position(steps, "module static destroyed"), detach);
  EXPECT_GT(Position(steps, "archive static destroyed"), detach);
  DeleteFileW(DllMainRecordPath().c_str());
}

}  // namespace
