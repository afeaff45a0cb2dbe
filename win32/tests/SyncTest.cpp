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

enum class Call { CreateEvent, OpenEvent, CreateMutex, OpenMutex };

HANDLE Named(Call call, const std::wstring& name) {
  switch (call) {
    case Call::CreateEvent: return CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    case Call::OpenEvent: return OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str());
    case Call::CreateMutex: return CreateMutexW(nullptr, FALSE, name.c_str());
    case Call::OpenMutex: return OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
  }
  return nullptr;
}

TEST(Names, CaseKindAndLifetimeDecideWhatASecondCallFinds) {
  enum Same { kNo, kYes, kUntold };  // whether the second handle is the first object
  struct Case {
    const char* what;
    Call first;
    bool closeFirst;    // before the second call
    bool otherCase;     // the second call spells the name with another letter case
    Call second;
    bool opens;
    DWORD error;
    Same same;
  } cases[] = {
      {"create twice", Call::CreateEvent, false, false, Call::CreateEvent, true, ERROR_ALREADY_EXISTS, kYes},
      {"create then open", Call::CreateEvent, false, false, Call::OpenEvent, true, 0, kYes},
      {"event in other case", Call::CreateEvent, false, true, Call::CreateEvent, true, ERROR_SUCCESS, kNo},
      {"open event in other case", Call::CreateEvent, false, true, Call::OpenEvent, false, ERROR_FILE_NOT_FOUND, kUntold},
      {"mutex in other case", Call::CreateMutex, false, true, Call::CreateMutex, true, ERROR_SUCCESS, kUntold},
      {"open mutex in other case", Call::CreateMutex, false, true, Call::OpenMutex, false, ERROR_FILE_NOT_FOUND, kUntold},
      {"event over a mutex", Call::CreateMutex, false, false, Call::CreateEvent, false, ERROR_INVALID_HANDLE, kUntold},
      {"open event of a mutex", Call::CreateMutex, false, false, Call::OpenEvent, false, ERROR_INVALID_HANDLE, kUntold},
      {"open after the last close", Call::CreateEvent, true, false, Call::OpenEvent, false, ERROR_FILE_NOT_FOUND, kUntold},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring name = UniqueName(L"vw32_name") + L"_" + std::to_wstring(row++);
    HANDLE first = Named(c.first, name);
    ASSERT_NE(first, nullptr);
    if (c.closeFirst) CloseHandle(first);
    SetLastError(12345);
    HANDLE second = Named(c.second, c.otherCase ? L"V" + name.substr(1) : name);
    // A create always sets the last error; an open only when it fails.
    const bool creates = c.second == Call::CreateEvent || c.second == Call::CreateMutex;
    if (creates || !second) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(second != nullptr, c.opens);
    if (second && c.same != kUntold) {
      SetEvent(second);
      EXPECT_EQ(WaitForSingleObject(first, 0), c.same == kYes ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    }
    if (second) CloseHandle(second);
    if (!c.closeFirst) CloseHandle(first);
  }
}

TEST(Handle, DuplicateKeepsObjectAliveAndCloseTwiceFails) {
  HANDLE event = Event(TRUE, FALSE), copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
  EXPECT_NE(copy, event);
  SetEvent(event);
  // The low two bits of a handle value are not part of it.
  ASSERT_TRUE(CloseHandle(reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 2)));
  EXPECT_EQ(WaitForSingleObject(copy, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  CloseHandle(copy);
}

TEST(Handle, WhatAWaitOnEachKindOfValueAnswers) {
  HANDLE event = Event(TRUE, TRUE);
  auto tagged = [event](ULONG_PTR bits) { return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | bits); };
  struct Case {
    const char* what;
    HANDLE handle;
    DWORD result;
    DWORD error;  // when the wait fails
  } cases[] = {
      {"handle", event, WAIT_OBJECT_0, 0},
      {"both low bits set", tagged(3), WAIT_OBJECT_0, 0},
      {"this process", GetCurrentProcess(), WAIT_TIMEOUT, 0},
      {"this thread", GetCurrentThread(), WAIT_TIMEOUT, 0},
      {"null", nullptr, WAIT_FAILED, ERROR_INVALID_HANDLE},
      {"never issued", reinterpret_cast<HANDLE>(LONG_PTR(0x7ff0)), WAIT_FAILED, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(WaitForSingleObject(c.handle, 0), c.result);
    if (c.result == WAIT_FAILED) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  CloseHandle(event);
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
  HANDLE created = CreateMutexW(nullptr, TRUE, name.c_str());
  ASSERT_NE(created, nullptr);
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
