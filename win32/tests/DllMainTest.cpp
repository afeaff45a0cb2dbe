// A module's entry point is called with the module's own handle when it is
// loaded, as under the Windows loader: the log records of a module carry it.
#include <gtest/gtest.h>
#include <windows.h>

namespace {

TEST(DllMain, AttachGetsTheModuleHandle) {
  HMODULE module = LoadLibraryW(VW32_TEST_MODULE);
  ASSERT_NE(module, nullptr);
  // Through void (*)(): the one function type every other converts to without a warning.
  auto instance = reinterpret_cast<HINSTANCE (*)()>(reinterpret_cast<void (*)()>(GetProcAddress(module, "ModuleInstance")));
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance(), module);
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
