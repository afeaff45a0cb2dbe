// Where Windows would hang or misbehave, the layer answers: checked here, as
// these answers are the layer's own.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

struct SelfUnregister {
  HANDLE wait = nullptr;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  BOOL result = TRUE;
  DWORD error = 0;
};

void CALLBACK UnregisterFromInside(PVOID context, BOOLEAN) {
  auto* self = static_cast<SelfUnregister*>(context);
  // Waiting for the running callback from inside it would never end.
  self->result = UnregisterWaitEx(self->wait, INVALID_HANDLE_VALUE);
  self->error = GetLastError();
  SetEvent(self->done);
}

TEST(LayerChoices, UnregisterWaitingFromItsOwnCallbackReturns) {
  SelfUnregister self;
  HANDLE object = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  ASSERT_TRUE(RegisterWaitForSingleObject(&self.wait, object, UnregisterFromInside, &self, INFINITE, WT_EXECUTEONLYONCE));
  ASSERT_EQ(WaitForSingleObject(self.done, 5000), WAIT_OBJECT_0);
  EXPECT_FALSE(self.result);
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
  HANDLE wait = nullptr;
  EXPECT_FALSE(RegisterWaitForSingleObject(&wait, objects[0], UnregisterFromInside, nullptr, INFINITE, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
  for (HANDLE h : objects) CloseHandle(h);
}

}  // namespace
