// Thread-pool waits, checked against Windows behaviour.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

namespace {

struct Watch {
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

  ~Watch() {
    for (HANDLE h : {object, started, proceed, ended}) CloseHandle(h);
  }
  bool Register();
  // Signals the object and waits until the callback has begun.
  bool Fire() {
    ResetEvent(started);
    SetEvent(object);
    return WaitForSingleObject(started, 5000) == WAIT_OBJECT_0;
  }
};

void CALLBACK OnSignal(PVOID context, BOOLEAN fired) {
  auto* watch = static_cast<Watch*>(context);
  watch->timedOut = fired;
  InterlockedIncrement(&watch->calls);
  if (watch->unregisterInside) {
    watch->insideResult = UnregisterWaitEx(watch->wait, nullptr);
    watch->insideError = GetLastError();
  }
  SetEvent(watch->started);
  WaitForSingleObject(watch->proceed, INFINITE);
  InterlockedExchange(&watch->finished, 1);
  SetEvent(watch->ended);
}

bool Watch::Register() {
  return RegisterWaitForSingleObject(&wait, object, OnSignal, this, INFINITE, WT_EXECUTEONLYONCE) != FALSE;
}

TEST(PoolWait, OneShotRunsOnceAndConsumesOneSignal) {
  Watch watch;
  ASSERT_TRUE(watch.Register());
  ASSERT_TRUE(watch.Fire());
  EXPECT_EQ(watch.timedOut, FALSE);
  EXPECT_EQ(WaitForSingleObject(watch.object, 0), WAIT_TIMEOUT);  // the callback took the signal
  SetEvent(watch.object);  // a second signal is left alone: the wait has fired
  Sleep(200);               // time for a wait that wrongly repeats to take it
  EXPECT_EQ(WaitForSingleObject(watch.object, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(UnregisterWaitEx(watch.wait, INVALID_HANDLE_VALUE));
  EXPECT_EQ(watch.calls, 1);
}

TEST(PoolWait, UnregisteredWaitNeverRuns) {
  Watch watch;
  ASSERT_TRUE(watch.Register());
  EXPECT_TRUE(UnregisterWaitEx(watch.wait, nullptr));
  SetEvent(watch.object);
  EXPECT_EQ(WaitForSingleObject(watch.object, 0), WAIT_OBJECT_0);  // nobody took it
  EXPECT_EQ(watch.calls, 0);
}

TEST(PoolWait, UnregisterWithInvalidHandleWaitsForTheRunningCallback) {
  Watch watch;
  ResetEvent(watch.proceed);
  ASSERT_TRUE(watch.Register());
  ASSERT_TRUE(watch.Fire());
  auto helper = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, [](void* proceed) -> unsigned {
    Sleep(50);  // lets the main thread get into UnregisterWaitEx first
    return SetEvent(static_cast<HANDLE>(proceed));
  }, watch.proceed, 0, nullptr));
  EXPECT_TRUE(UnregisterWaitEx(watch.wait, INVALID_HANDLE_VALUE));
  EXPECT_EQ(watch.finished, 1);  // it returned only after the callback ended
  WaitForSingleObject(helper, INFINITE);
  CloseHandle(helper);
}

TEST(PoolWait, CallbackMayUnregisterItsOwnWait) {
  Watch watch;
  watch.unregisterInside = true;
  ASSERT_TRUE(watch.Register());
  ASSERT_TRUE(watch.Fire());
  ASSERT_EQ(WaitForSingleObject(watch.ended, 5000), WAIT_OBJECT_0);
  EXPECT_FALSE(watch.insideResult);  // its own callback is still running
  EXPECT_EQ(watch.insideError, DWORD(ERROR_IO_PENDING));
  SetEvent(watch.object);
  EXPECT_EQ(WaitForSingleObject(watch.object, 0), WAIT_OBJECT_0);  // unregistered: nobody took it
}

}  // namespace
