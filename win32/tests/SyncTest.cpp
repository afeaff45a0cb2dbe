// Events, mutexes, waits and threads, checked against Windows behaviour.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <initializer_list>
#include <string>

namespace {

// A name no other test process uses.
std::wstring UniqueName(const wchar_t* base) {
  return std::wstring(base) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64());
}

HANDLE Event(BOOL manual, BOOL initial) { return CreateEventW(nullptr, manual, initial, nullptr); }

void Close(std::initializer_list<HANDLE> handles) {
  for (HANDLE h : handles) CloseHandle(h);
}

HANDLE Start(unsigned (*body)(void*), void* argument, unsigned* id = nullptr) {
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, body, argument, 0, id));
}

void Finish(HANDLE thread) {
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  CloseHandle(thread);
}

TEST(Event, AutoResetReleasesOneWaitThenResets) {
  HANDLE event = Event(FALSE, TRUE);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SetEvent(event);
  SetEvent(event);  // a second signal does not add up
  EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(Event, NamedCreateOpensExistingOfItsKindAndOpenFailsForMissing) {
  const std::wstring name = UniqueName(L"vw32_event"), mutexName = UniqueName(L"vw32_kind");
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
  // A mutex's name is no event's.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, mutexName.c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, mutexName.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, mutexName.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  Close({first, second, opened, mutex});
  // The name goes with the last handle.
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(Handle, DuplicateKeepsObjectAliveAndCloseTwiceFails) {
  HANDLE event = Event(TRUE, FALSE), copy = nullptr;
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
  HANDLE events[3] = {Event(FALSE, FALSE), Event(FALSE, FALSE), Event(FALSE, FALSE)};
  SetEvent(events[2]);
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
  Close({events[0], events[1], events[2]});
}

TEST(Wait, AllWaitsForEveryObjectAndTakesThemTogether) {
  HANDLE events[2] = {Event(FALSE, TRUE), Event(FALSE, FALSE)};
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 20), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);  // a failed wait-all took nothing
  SetEvent(events[0]);
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);
  Close({events[0], events[1]});
}

TEST(Wait, RefusesBadArguments) {
  HANDLE event = Event(TRUE, TRUE);
  HANDLE twice[2] = {event, event}, bogus[2] = {event, reinterpret_cast<HANDLE>(LONG_PTR(0x7ff0))};
  // The same object twice in a wait for all is taken as it is (as Wine does).
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(0, twice, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WaitForMultipleObjects(2, bogus, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  CloseHandle(event);
}

struct MutexJob {
  HANDLE mutex;
  DWORD result;
};

unsigned __stdcall TakeAndEnd(void* p) {  // ends holding the mutex
  auto* job = static_cast<MutexJob*>(p);
  job->result = WaitForSingleObject(job->mutex, INFINITE);
  return 7;
}

unsigned __stdcall TryRelease(void* p) {
  auto* job = static_cast<MutexJob*>(p);
  job->result = ReleaseMutex(job->mutex) ? ERROR_SUCCESS : GetLastError();
  return 0;
}

TEST(Mutex, RecursiveOwnershipAndOnlyOwnerReleases) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // owner takes it again
  MutexJob job{mutex, 0};
  Finish(Start(TryRelease, &job));
  EXPECT_EQ(job.result, DWORD(ERROR_NOT_OWNER));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));  // count exhausted
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
  job.result = 0xFFFF;
  Finish(Start(TakeAndEnd, &job));  // now free for another thread
  EXPECT_EQ(job.result, WAIT_OBJECT_0);
  CloseHandle(mutex);
}

TEST(Mutex, OwnerThreadEndingAbandonsIt) {
  MutexJob job{CreateMutexW(nullptr, FALSE, nullptr), 0xFFFF};
  HANDLE thread = Start(TakeAndEnd, &job);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(job.result, WAIT_OBJECT_0);
  HANDLE pair[2] = {Event(TRUE, FALSE), job.mutex};
  EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_ABANDONED_0 + 1);
  EXPECT_EQ(WaitForSingleObject(job.mutex, 0), WAIT_OBJECT_0);  // now owned, no longer abandoned
  EXPECT_TRUE(ReleaseMutex(job.mutex));
  EXPECT_TRUE(ReleaseMutex(job.mutex));
  Close({thread, pair[0], job.mutex});
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
  MutexJob job{opened, 0xFFFF};
  Finish(Start(TakeAndEnd, &job));
  EXPECT_EQ(job.result, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(created, 5000), WAIT_ABANDONED);  // through another handle: one object
  EXPECT_TRUE(ReleaseMutex(created));
  Close({created, again, opened});
}

struct ThreadFacts {
  HANDLE go;
  DWORD id;
  DWORD lastError;
};

unsigned __stdcall Report(void* p) {
  auto* facts = static_cast<ThreadFacts*>(p);
  facts->id = GetCurrentThreadId();
  facts->lastError = GetLastError();
  SetLastError(77);
  WaitForSingleObject(facts->go, INFINITE);
  _endthreadex(42);
  return 1;
}

TEST(Thread, OwnIdLastErrorAndExitCodeAndWaitableHandles) {
  ThreadFacts facts{Event(TRUE, FALSE), 0, 99};
  unsigned id = 0;
  SetLastError(5);
  HANDLE thread = Start(Report, &facts, &id);
  ASSERT_NE(thread, nullptr);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, DWORD(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  SetEvent(facts.go);
  SetLastError(5);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_EQ(facts.id, id);
  EXPECT_NE(facts.id, GetCurrentThreadId());
  EXPECT_EQ(facts.lastError, 0u);  // each thread has its own
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  HANDLE self = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  EXPECT_EQ(WaitForSingleObject(self, 0), WAIT_TIMEOUT);  // this thread runs
  Close({thread, self, facts.go});
}

}  // namespace
