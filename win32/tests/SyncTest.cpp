// Events, mutexes, waits and threads, checked against Windows behaviour.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <string>

namespace {

// A name no other test process uses.
std::wstring UniqueName(const wchar_t* base) {
  return std::wstring(base) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64());
}

HANDLE Start(unsigned (*body)(void*), void* argument, unsigned* id = nullptr) {
  unsigned threadId = 0;
  auto handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, body, argument, 0, &threadId));
  if (id) *id = threadId;
  return handle;
}

void Finish(HANDLE thread) {
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  CloseHandle(thread);
}

TEST(Event, AutoResetReleasesOneWaitThenResets) {
  HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SetEvent(event);
  SetEvent(event);  // a second signal does not add up
  EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ResetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(Event, NamedCreateOpensExistingAndOpenFailsForMissing) {
  const std::wstring name = UniqueName(L"vw32_event");
  SetLastError(1234);
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  HANDLE second = CreateEventW(nullptr, FALSE, TRUE, name.c_str());  // opens: its arguments are ignored
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
  SetEvent(second);
  HANDLE opened = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);  // still manual-reset: one object
  for (HANDLE h : {first, second, opened}) CloseHandle(h);
  // The name goes with the last handle.
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(Event, NameOfAMutexIsNotAnEvent) {
  const std::wstring name = UniqueName(L"vw32_kind");
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  CloseHandle(mutex);
}

TEST(Handle, DuplicateKeepsObjectAliveAndCloseTwiceFails) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
  EXPECT_NE(copy, event);
  SetEvent(event);
  ASSERT_TRUE(CloseHandle(event));
  EXPECT_EQ(WaitForSingleObject(copy, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  CloseHandle(copy);
}

TEST(Wait, AnyReturnsLowestSignalledIndexAndConsumesOnlyIt) {
  HANDLE events[3];
  for (auto& e : events) e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetEvent(events[2]);
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
  for (auto e : events) CloseHandle(e);
}

TEST(Wait, AllWaitsForEveryObjectAndTakesThemTogether) {
  HANDLE events[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  SetEvent(events[0]);
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 20), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);  // a failed wait-all took nothing
  SetEvent(events[0]);
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);
  for (auto e : events) CloseHandle(e);
}

TEST(Wait, RefusesBadArguments) {
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE twice[2] = {event, event};
  // The same object twice in a wait for all is taken as it is (as Wine does).
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(0, twice, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  HANDLE bogus[2] = {event, reinterpret_cast<HANDLE>(LONG_PTR(0x7ff0))};
  EXPECT_EQ(WaitForMultipleObjects(2, bogus, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  CloseHandle(event);
}

struct MutexJob {
  HANDLE mutex;
  HANDLE taken;
  HANDLE release;
  DWORD result;
};

unsigned __stdcall HoldAndEnd(void* p) {
  auto* job = static_cast<MutexJob*>(p);
  job->result = WaitForSingleObject(job->mutex, INFINITE);
  SetEvent(job->taken);
  return 7;  // ends holding the mutex
}

unsigned __stdcall TryRelease(void* p) {
  auto* job = static_cast<MutexJob*>(p);
  job->result = ReleaseMutex(job->mutex) ? ERROR_SUCCESS : GetLastError();
  return 0;
}

unsigned __stdcall WaitFor(void* p) {
  auto* job = static_cast<MutexJob*>(p);
  job->result = WaitForSingleObject(job->mutex, INFINITE);
  ReleaseMutex(job->mutex);
  return 0;
}

TEST(Mutex, RecursiveOwnershipAndOnlyOwnerReleases) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // owner takes it again
  MutexJob job{mutex, nullptr, nullptr, 0};
  Finish(Start(TryRelease, &job));
  EXPECT_EQ(job.result, DWORD(ERROR_NOT_OWNER));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));  // count exhausted
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
  job.result = 0xFFFF;
  Finish(Start(WaitFor, &job));  // now free for another thread
  EXPECT_EQ(job.result, WAIT_OBJECT_0);
  CloseHandle(mutex);
}

TEST(Mutex, OwnerThreadEndingAbandonsIt) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  MutexJob job{mutex, CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr, 0xFFFF};
  HANDLE thread = Start(HoldAndEnd, &job);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(job.result, WAIT_OBJECT_0);
  HANDLE pair[2] = {job.taken, mutex};
  ResetEvent(job.taken);
  EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_ABANDONED_0 + 1);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // now owned, no longer abandoned
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  for (HANDLE h : {thread, job.taken, mutex}) CloseHandle(h);
}

TEST(Mutex, NamedCreateOpenAndInitialOwnerOnlyWhenNew) {
  const std::wstring name = UniqueName(L"vw32_mutex");
  EXPECT_EQ(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  HANDLE created = CreateMutexW(nullptr, TRUE, name.c_str());
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  HANDLE again = CreateMutexW(nullptr, TRUE, name.c_str());
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  HANDLE opened = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(ReleaseMutex(opened));  // one level, from the creation
  EXPECT_FALSE(ReleaseMutex(again));  // the second create did not take it
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
  MutexJob job{opened, CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr, 0xFFFF};
  Finish(Start(HoldAndEnd, &job));
  EXPECT_EQ(job.result, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(created, 5000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(created));
  for (HANDLE h : {created, again, opened, job.taken}) CloseHandle(h);
}

struct ThreadFacts {
  DWORD id;
  DWORD lastError;
};

unsigned __stdcall Report(void* p) {
  auto* facts = static_cast<ThreadFacts*>(p);
  facts->id = GetCurrentThreadId();
  facts->lastError = GetLastError();
  SetLastError(77);
  return 0;
}

unsigned __stdcall EndEarly(void*) {
  _endthreadex(42);
  return 1;
}

TEST(Thread, IdsLastErrorAndExitCodes) {
  SetLastError(5);
  ThreadFacts facts{0, 99};
  unsigned id = 0;
  HANDLE thread = Start(Report, &facts, &id);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(facts.id, id);
  EXPECT_NE(facts.id, GetCurrentThreadId());
  EXPECT_EQ(facts.lastError, 0u);  // each thread has its own
  EXPECT_EQ(GetLastError(), 5u);
  CloseHandle(thread);

  HANDLE early = Start(EndEarly, nullptr);
  ASSERT_EQ(WaitForSingleObject(early, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(early, &code));
  EXPECT_EQ(code, 42u);
  CloseHandle(early);
}

TEST(Thread, RunningThreadIsStillActiveAndDuplicatedSelfIsWaitable) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = Start([](void* e) -> unsigned { return WaitForSingleObject(static_cast<HANDLE>(e), INFINITE); }, event);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, DWORD(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  SetEvent(event);
  Finish(thread);
  HANDLE self = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  EXPECT_EQ(WaitForSingleObject(self, 0), WAIT_TIMEOUT);  // this thread runs
  CloseHandle(self);
  CloseHandle(event);
}

TEST(Interlocked, ReturnsResultingOrPreviousValues) {
  volatile LONG value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchange(&value, 9), 5);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 8), 9);  // no match: unchanged
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
  EXPECT_EQ(value, 1);
}

}  // namespace
