// Thread-pool waits, checked against Windows behaviour.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

namespace {

// Each test has one registered one-shot wait on an auto-reset event.
class PoolWait : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterWaitForSingleObject(&wait, object, OnSignal, this, INFINITE, WT_EXECUTEONLYONCE));
  }
  void TearDown() override {
    for (HANDLE h : {object, started, proceed, ended}) CloseHandle(h);
  }
  // Signals the object and waits until the callback has begun.
  bool Fire() {
    ResetEvent(started);
    SetEvent(object);
    return WaitForSingleObject(started, 5000) == WAIT_OBJECT_0;
  }
  static void CALLBACK OnSignal(PVOID context, BOOLEAN fired) {
    auto* self = static_cast<PoolWait*>(context);
    self->timedOut = fired;
    InterlockedIncrement(&self->calls);
    if (self->unregisterInside) {
      self->insideResult = UnregisterWaitEx(self->wait, nullptr);
      self->insideError = GetLastError();
    }
    SetEvent(self->started);
    WaitForSingleObject(self->proceed, INFINITE);
    InterlockedExchange(&self->finished, 1);
    SetEvent(self->ended);
  }

  HANDLE object = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE proceed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // set as the callback's last step
  HANDLE wait = nullptr;
  volatile LONG calls = 0;
  volatile LONG finished = 0;
  BOOLEAN timedOut = TRUE;
  bool unregisterInside = false;
  BOOL insideResult = TRUE;
  DWORD insideError = 0;
};

TEST_F(PoolWait, OneShotRunsOnceAndConsumesOneSignal) {
  ASSERT_TRUE(Fire());
  EXPECT_EQ(timedOut, FALSE);
  EXPECT_EQ(WaitForSingleObject(object, 0), WAIT_TIMEOUT);  // the callback took the signal
  SetEvent(object);  // a second signal is left alone: the wait has fired
  Sleep(200);        // time for a wait that wrongly repeats to take it
  EXPECT_EQ(WaitForSingleObject(object, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
  EXPECT_EQ(calls, 1);
}

TEST_F(PoolWait, UnregisteredWaitNeverRuns) {
  EXPECT_TRUE(UnregisterWaitEx(wait, nullptr));
  SetEvent(object);
  EXPECT_EQ(WaitForSingleObject(object, 0), WAIT_OBJECT_0);  // nobody took it
  EXPECT_EQ(calls, 0);
}

TEST_F(PoolWait, UnregisterWithInvalidHandleWaitsForTheRunningCallback) {
  ResetEvent(proceed);
  ASSERT_TRUE(Fire());
  auto helper = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, [](void* go) -> unsigned {
    Sleep(50);  // lets the main thread get into UnregisterWaitEx first
    return SetEvent(static_cast<HANDLE>(go));
  }, proceed, 0, nullptr));
  EXPECT_TRUE(UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
  EXPECT_EQ(finished, 1);  // it returned only after the callback ended
  WaitForSingleObject(helper, INFINITE);
  CloseHandle(helper);
}

TEST_F(PoolWait, CallbackMayUnregisterItsOwnWait) {
  unregisterInside = true;
  ASSERT_TRUE(Fire());
  ASSERT_EQ(WaitForSingleObject(ended, 5000), WAIT_OBJECT_0);
  EXPECT_FALSE(insideResult);  // its own callback is still running
  EXPECT_EQ(insideError, DWORD(ERROR_IO_PENDING));
  SetEvent(object);
  EXPECT_EQ(WaitForSingleObject(object, 0), WAIT_OBJECT_0);  // unregistered: nobody took it
}

}  // namespace
