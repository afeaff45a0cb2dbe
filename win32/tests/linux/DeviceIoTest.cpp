// Device I/O through a test driver registered with the I/O manager.
#include <gtest/gtest.h>
#include <vwin32.h>
#include <windows.h>

#include <cstring>
#include <deque>

namespace {

constexpr DWORD kAtOnce = 1;  // answers "done" at once
constexpr DWORD kFail = 2;    // fails at once
constexpr DWORD kPend = 3;    // keeps the request
constexpr DWORD kInside = 4;  // completes through its token, then says pending

class TestDriver : public vw32::Driver {
 public:
  struct Held {
    vw32::IoToken token;
    void* file;
    void* output;
  };

  DWORD Open(const wchar_t* path, bool, void** context) override {
    if (std::wcsstr(path, L"missing")) return ERROR_FILE_NOT_FOUND;
    *context = new char;
    ++opens;
    cancelled = false;
    return ERROR_SUCCESS;
  }
  void Close(void* context) override {
    EXPECT_TRUE(cancelled) << "closed before its requests were cancelled";
    ++closes;
    delete static_cast<char*>(context);
  }
  DWORD Ioctl(const vw32::IoRequest& request, vw32::IoToken token, DWORD* bytes) override {
    switch (request.code) {
      case kAtOnce:
        std::memcpy(request.output, "done", 4);
        *bytes = 4;
        return ERROR_SUCCESS;
      case kFail:
        return ERROR_GEN_FAILURE;
      case kInside:
        EXPECT_TRUE(vw32::CompleteRequest(token, ERROR_SUCCESS, 0));
        return ERROR_IO_PENDING;
      default:
        held.push_back({token, request.fileContext, request.output});
        return ERROR_IO_PENDING;
    }
  }
  void Cancel(void* context) override {
    ++cancels;
    cancelled = true;
    if (ignoreCancel) return;
    for (auto& h : held) {  // every test request is of the one file cancelled
      EXPECT_EQ(h.file, context);
      vw32::CompleteRequest(h.token, ERROR_OPERATION_ABORTED, 0);
    }
    held.clear();
  }
  std::deque<Held> held;  // the test's thread alone calls the driver
  int opens = 0, closes = 0, cancels = 0;
  bool ignoreCancel = false, cancelled = false;
};

// An OVERLAPPED with a manual-reset event of its own, set or not.
struct Overlapped : OVERLAPPED {
  explicit Overlapped(bool set = false) : OVERLAPPED{} { hEvent = CreateEventW(nullptr, TRUE, set, nullptr); }
  ~Overlapped() { CloseHandle(hEvent); }
  bool Signalled() const { return WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0; }
};

class DeviceIo : public ::testing::Test {
 public:
  static BOOL Ioctl(HANDLE device, DWORD code, char* out, OVERLAPPED* overlapped, DWORD* bytes = nullptr) {
    DWORD ignored = 0;
    return DeviceIoControl(device, code, nullptr, 0, out, 8, bytes ? bytes : &ignored, overlapped);
  }

 protected:
  void SetUp() override {
    handlesBefore_ = vw32::OpenHandleCount();
    vw32::RegisterDriver(L"\\\\?\\vw32test#", &driver_);
  }
  void TearDown() override {
    vw32::UnregisterDriver(&driver_);
    EXPECT_EQ(vw32::OpenHandleCount(), handlesBefore_) << "handles leaked";
  }
  HANDLE Open(bool overlapped, const wchar_t* path = L"\\\\?\\vw32test#card0") {
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | (overlapped ? FILE_FLAG_OVERLAPPED : 0), nullptr);
  }
  TestDriver driver_;
  size_t handlesBefore_ = 0;
};

TEST_F(DeviceIo, PathsGoToTheDriverWithTheLongestPrefixWithoutLetterCase) {
  TestDriver other;
  vw32::RegisterDriver(L"\\\\?\\vw32test#special", &other);
  HANDLE a = Open(false, L"\\\\?\\VW32TEST#Card0"), b = Open(false, L"\\\\?\\vw32test#special1");
  EXPECT_EQ(driver_.opens + 10 * other.opens, 11);
  for (const wchar_t* path : {L"\\\\?\\vw32test#missing", L"\\\\?\\nodriver#x"}) {
    EXPECT_EQ(Open(false, path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  }
  CloseHandle(b);
  vw32::UnregisterDriver(&other);
  HANDLE copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), a, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
  CloseHandle(a);
  EXPECT_EQ(driver_.closes, 0);  // the duplicate keeps the file open
  CloseHandle(copy);
  EXPECT_EQ(driver_.closes, 1);
}

// Requests the driver answers before it returns: a failure leaves the event
// reset; a completion by the driver before it returned is still reported
// pending; an overlapped handle needs an OVERLAPPED.
TEST_F(DeviceIo, AnswersGivenAtOnce) {
  char out[8] = {};
  DWORD bytes = 0;
  for (bool overlapped : {false, true}) {
    HANDLE device = Open(overlapped);
    Overlapped ov;
    ASSERT_TRUE(Ioctl(device, kAtOnce, out, overlapped ? &ov : nullptr, &bytes));
    EXPECT_EQ(std::string(out, bytes), "done");
    EXPECT_EQ(ov.Signalled(), overlapped);
    EXPECT_FALSE(Ioctl(device, kFail, out, overlapped ? &ov : nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_GEN_FAILURE));
    EXPECT_FALSE(ov.Signalled());
    CloseHandle(device);
  }
  HANDLE device = Open(true);
  Overlapped ov;
  EXPECT_FALSE(Ioctl(device, kInside, out, &ov));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
  EXPECT_TRUE(GetOverlappedResult(device, &ov, &bytes, FALSE));
  EXPECT_FALSE(Ioctl(device, kAtOnce, out, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  CloseHandle(device);
}

// An overlapped request the driver keeps: the call returns at once and the
// event, reset at the start, tells the end.
TEST_F(DeviceIo, PendingRequestCompletesLater) {
  HANDLE device = Open(true);
  Overlapped ov(true);
  char out[8] = {};
  EXPECT_FALSE(Ioctl(device, kPend, out, &ov));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
  EXPECT_FALSE(HasOverlappedIoCompleted(&ov));
  EXPECT_FALSE(ov.Signalled());
  DWORD bytes = 99;
  EXPECT_FALSE(GetOverlappedResult(device, &ov, &bytes, FALSE));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_INCOMPLETE));
  ASSERT_EQ(driver_.held.size(), 1u);  // the driver answers it with "abc"
  std::memcpy(driver_.held.front().output, "abc", 3);
  EXPECT_TRUE(vw32::CompleteRequest(driver_.held.front().token, ERROR_SUCCESS, 3));
  driver_.held.clear();
  EXPECT_TRUE(ov.Signalled());
  EXPECT_TRUE(HasOverlappedIoCompleted(&ov));
  EXPECT_TRUE(GetOverlappedResult(device, &ov, &bytes, TRUE));
  EXPECT_EQ(std::string(out, bytes), "abc");
  CloseHandle(device);
}

// CancelIo, or closing the last handle even on a driver that forgets its
// requests, aborts every pending request of the file; a late completion
// then finds nothing and leaves the caller's memory alone.
TEST_F(DeviceIo, CancelIoOrCloseAbortsEveryPendingRequest) {
  for (bool byClose : {false, true}) {
    SCOPED_TRACE(byClose ? "close" : "CancelIo");
    driver_.ignoreCancel = byClose;
    HANDLE device = Open(true);
    Overlapped ov[2];
    char out[2][8];
    for (int i = 0; i < 2; ++i) ASSERT_FALSE(Ioctl(device, kPend, out[i], &ov[i]));
    const vw32::IoToken late = driver_.held.front().token;
    ASSERT_TRUE(byClose ? CloseHandle(device) : CancelIo(device));
    for (auto& o : ov) {
      DWORD bytes;
      EXPECT_FALSE(GetOverlappedResult(device, &o, &bytes, !byClose));
      EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
    }
    const OVERLAPPED before = ov[0];
    driver_.held.clear();
    EXPECT_FALSE(vw32::CompleteRequest(late, ERROR_SUCCESS, 8));
    EXPECT_EQ(std::memcmp(&ov[0], &before, sizeof before), 0);
    if (!byClose) CloseHandle(device);
  }
  EXPECT_EQ(driver_.cancels, 3);  // CancelIo, then each last close
}

}  // namespace
