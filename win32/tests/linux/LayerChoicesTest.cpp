// Where Windows would hang or misbehave, the layer answers: checked here, as
// these answers are the layer's own.
#include <gtest/gtest.h>
#include <vwin32.h>
#include <windows.h>

#include <string>

#include "RegistryFiles.h"

namespace {

TEST(LayerChoices, UnregisterWaitingFromItsOwnCallbackReturns) {
  struct Self {
    HANDLE wait = nullptr;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD error = 0;  // UnregisterWaitEx's error, 0 when it succeeded
  } self;
  // Waiting for the running callback from inside it would never end.
  const WAITORTIMERCALLBACK inside = [](PVOID context, BOOLEAN) {
    auto* self = static_cast<Self*>(context);
    self->error = UnregisterWaitEx(self->wait, INVALID_HANDLE_VALUE) ? 0 : GetLastError();
    SetEvent(self->done);
  };
  HANDLE object = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  ASSERT_TRUE(RegisterWaitForSingleObject(&self.wait, object, inside, &self, INFINITE, WT_EXECUTEONLYONCE));
  ASSERT_EQ(WaitForSingleObject(self.done, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(self.error, DWORD(ERROR_IO_PENDING));
  CloseHandle(object);
  CloseHandle(self.done);
}

TEST(LayerChoices, NamedMutexIsWaitedForAlone) {
  const std::wstring name = L"vw32_alone_" + std::to_wstring(GetCurrentProcessId());
  HANDLE objects[2] = {CreateMutexW(nullptr, FALSE, name.c_str()), CreateEventW(nullptr, TRUE, TRUE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(2, objects, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(WaitForMultipleObjects(1, objects, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(objects[0]));
  for (HANDLE h : objects) CloseHandle(h);
}

using LayerRegistry = regtest::RegistryFolderTest;

// Windows documents at most 512 levels of keys below a hive, without an
// error code for going past them: the layer refuses the 513th level with
// ERROR_INVALID_PARAMETER, so that it never writes a file it would refuse to
// read (a file with a deeper key is unreadable: ERROR_BADDB).
TEST_F(LayerRegistry, KeysGoAtMost512LevelsDeep) {
  std::wstring path = L"Software";
  for (int level = 2; level <= 512; ++level) path += L"\\k";
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (path + L"\\k").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_INVALID_PARAMETER);
  HKEY deepest = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &deepest), ERROR_SUCCESS);
  EXPECT_EQ(RegCreateKeyExW(deepest, L"k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_INVALID_PARAMETER);
  RegCloseKey(deepest);
  // The file written holds the 512 levels and reads back once the layer has
  // forgotten what it read.
  vw32::SetRegistryFolder(nullptr);
  vw32::SetRegistryFolder(folder_.c_str());
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace
