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

HANDLE Event(BOOL manual, BOOL initial) { return CreateEventW(nullptr, manual, initial, nullptr); }

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

// Named events and mutexes: a first call makes the object (a mutex owned by
// this thread), a second one creates or opens by a name.
enum Kind { kEvent, kMutex };

HANDLE Named(Kind kind, bool create, const std::wstring& name) {
  if (kind == kEvent) {
    return create ? CreateEventW(nullptr, TRUE, FALSE, name.c_str())
                  : OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str());
  }
  return create ? CreateMutexW(nullptr, TRUE, name.c_str()) : OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
}

// Whether second is the object of first. A mutex made anew by the second call
// is owned by it; the same mutex owned once more would release twice.
bool Same(Kind kind, HANDLE first, HANDLE second) {
  if (kind == kEvent) {
    SetEvent(second);
    return WaitForSingleObject(first, 0) == WAIT_OBJECT_0;
  }
  return ReleaseMutex(second) && !ReleaseMutex(first);
}

TEST(Names, CaseKindAndLifetimeDecideWhatASecondCallFinds) {
  struct Case {
    const char* what;
    bool closeFirst;   // before the second call
    bool otherCase;    // the second call spells the name with another letter case
    bool otherKind;    // the second call is for the other kind of object
    bool create;       // the second call creates (else opens)
    DWORD error;       // a create always sets it; an open only when it fails
    int same;          // 1: the same object, 0: another one, -1: the call fails
  } cases[] = {
      {"create twice", false, false, false, true, ERROR_ALREADY_EXISTS, 1},
      {"create then open", false, false, false, false, 0, 1},
      {"create in other case", false, true, false, true, ERROR_SUCCESS, 0},
      {"create over the other kind", false, false, true, true, ERROR_INVALID_HANDLE, -1},
      {"open the other kind", false, false, true, false, ERROR_INVALID_HANDLE, -1},
      {"open after the last close", true, false, false, false, ERROR_FILE_NOT_FOUND, -1},
  };
  int row = 0;
  for (Kind kind : {kEvent, kMutex}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (kind == kEvent ? "event: " : "mutex: ") << c.what);
      const std::wstring name = UniqueName(L"vw32_name") + L"_" + std::to_wstring(row++);
      HANDLE first = Named(kind, true, name);
      ASSERT_NE(first, nullptr);
      if (c.closeFirst) {
        if (kind == kMutex) ReleaseMutex(first);  // an owned mutex outlives its handles
        CloseHandle(first);
      }
      SetLastError(12345);
      const Kind secondKind = c.otherKind ? Kind(1 - kind) : kind;
      HANDLE second = Named(secondKind, c.create, c.otherCase ? L"V" + name.substr(1) : name);
      if (c.create || !second) {
        EXPECT_EQ(GetLastError(), c.error);
      }
      ASSERT_EQ(second != nullptr, c.same >= 0);
      if (second) {
        EXPECT_EQ(Same(kind, first, second), c.same == 1);
        CloseHandle(second);
      }
      if (!c.closeFirst) CloseHandle(first);
    }
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

TEST(Wait, AnyReturnsLowestSignalledIndexAndConsumesOnlyIt) {
  HANDLE events[3] = {Event(FALSE, FALSE), Event(FALSE, FALSE), Event(FALSE, FALSE)};
  SetEvent(events[2]);
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
  // Bad arguments fail the wait, even beside a signalled event.
  SetEvent(events[0]);
  HANDLE bogus[2] = {events[0], reinterpret_cast<HANDLE>(LONG_PTR(0x7ff0))};
  EXPECT_EQ(WaitForMultipleObjects(0, bogus, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WaitForMultipleObjects(2, bogus, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  for (HANDLE event : events) CloseHandle(event);
}

struct MutexJob {
  HANDLE mutex;
  DWORD result;
};

unsigned __stdcall TakeAndEnd(void* p) {  // ends holding the mutex
  auto* job = static_cast<MutexJob*>(p);
  job->result = WaitForSingleObject(job->mutex, INFINITE);
  return 0;
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
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named" : "unnamed");
    const std::wstring name = UniqueName(L"vw32_abandoned");
    HANDLE mutex = CreateMutexW(nullptr, FALSE, named ? name.c_str() : nullptr);
    MutexJob job{named ? OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()) : mutex, 0xFFFF};
    Finish(Start(TakeAndEnd, &job));
    EXPECT_EQ(job.result, WAIT_OBJECT_0);
    HANDLE pair[2] = {Event(TRUE, FALSE), mutex};
    // Abandoned through any handle on it; a named mutex is waited for alone.
    EXPECT_EQ(named ? WaitForSingleObject(mutex, 5000) : WaitForMultipleObjects(2, pair, FALSE, 0),
              named ? WAIT_ABANDONED : WAIT_ABANDONED_0 + 1);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // now owned, no longer abandoned
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(pair[0]);
    CloseHandle(mutex);
    if (named) CloseHandle(job.mutex);
  }
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
  return 0;
}

TEST(Thread, OwnIdAndLastErrorAndAHandleSignalledAtTheEnd) {
  ThreadFacts facts{Event(TRUE, FALSE), 0, 99};
  unsigned id = 0;
  SetLastError(5);
  HANDLE thread = Start(Report, &facts, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  SetEvent(facts.go);
  SetLastError(5);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_EQ(facts.id, id);
  EXPECT_NE(facts.id, GetCurrentThreadId());
  EXPECT_EQ(facts.lastError, 0u);  // each thread has its own
  CloseHandle(thread);
  CloseHandle(facts.go);
}

}  // namespace
