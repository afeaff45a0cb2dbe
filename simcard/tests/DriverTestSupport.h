// Helpers for tests that drive the simulated driver through the Win32 calls
// a grabber library makes: SetupDi enumeration, CreateFileW, DeviceIoControl.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <vwin32.h>

#include "SimCard.h"
#include "VtxDriver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace simtest {

// Starts the simulator for each test and checks that it leaves no handle open.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handlesBefore_ = vw32::OpenHandleCount();
    vsim::Simulator::Start(1);
  }
  void TearDown() override {
    vsim::Simulator::Stop();
    EXPECT_EQ(vw32::OpenHandleCount(), handlesBefore_) << "handles left open";
  }
  vsim::Simulator& sim() { return *vsim::Simulator::Instance(); }

 private:
  size_t handlesBefore_ = 0;
};

// Device paths of the card interfaces SetupDi lists now, in order.
std::vector<std::wstring> ListCards();

HANDLE OpenDevice(const std::wstring& path, bool overlapped);

// One overlapped request whose buffers live as long as it does; a temporary
// one (`Async(...).Wait()`) is a request that completes at once or is waited for.
class Async {
 public:
  Async(HANDLE device, DWORD code, std::vector<uint8_t> input, void* output, DWORD outputSize);
  ~Async();  // waits for a pending request: cancel it first
  bool Pending() const { return started_ && ov_.Internal == STATUS_PENDING; }
  // Waits for completion; returns the Win32 error (0 = success).
  DWORD Wait(DWORD* bytes = nullptr);

 private:
  HANDLE device_;
  OVERLAPPED ov_{};
  std::vector<uint8_t> input_;
  DWORD startError_ = 0;
  bool started_ = false;
};

// Input record: header of `sessionId` on channel 0, then `extra` bytes.
std::vector<uint8_t> Header(uint32_t sessionId, const void* extra = nullptr, size_t extraSize = 0);

// An open session on card `index`, with its session wait pending, and the
// requests of a grab.
class Session {
 public:
  explicit Session(int index = 0);
  ~Session();  // cancels and closes
  HANDLE device() const { return device_; }
  uint32_t id() const { return id_; }

  // A buffered request with this session's header; returns driverResult, or
  // 0xFFFFFFFF when the call itself failed.
  template <typename Out>
  uint32_t Request(DWORD code, Out* out, const void* extra = nullptr, size_t extraSize = 0) {
    std::memset(out, 0xEE, sizeof *out);
    DWORD bytes = 0;
    if (Async(device_, code, Header(id_, extra, extraSize), out, sizeof *out).Wait(&bytes)) return 0xFFFFFFFFu;
    EXPECT_EQ(bytes, sizeof *out) << std::hex << code;
    uint32_t result;
    std::memcpy(&result, out, sizeof result);
    return result;
  }
  template <typename In>
  uint32_t Simple(DWORD code, const In& in) {
    VtxResult r;
    return Request(code, &r, &in, sizeof in);
  }

  uint32_t TakeAccess(uint32_t mask = 1u << 8) { return Simple(VTXCTL_SET_DMA_ACCESS, mask); }
  uint32_t Prepare(uint8_t pixelFormat, uint8_t interlaced, uint8_t fieldMode);
  uint32_t Start() { return Simple(VTXCTL_DMA_START_GRABBING, uint32_t(0)); }
  uint32_t Stop() { return Request(VTXCTL_DMA_STOP_GRABBING, &stopReply_); }
  // Access, prepare and a ring of `count` buffers of the prepared size with
  // its descriptor array, then start if asked. True if all went well.
  bool Ready(uint8_t pixelFormat, uint8_t interlaced, uint8_t fieldMode, int count, bool start = true);
  uint32_t Unlock(uint32_t index) { return Simple(VTXCTL_DMA_UNLOCK_BUFFER, index); }
  // Starts a lock request; its reply lands in *out.
  std::unique_ptr<Async> LockAsync(VtxLockBufferOut* out);
  // Locks one frame (waits); returns the Win32 error.
  DWORD LockFrame(VtxLockBufferOut* out);
  const uint8_t* Buffer(int i) const { return block_.data() + static_cast<size_t>(i) * bufferSize_; }
  uint32_t BufferSize() const { return bufferSize_; }

  // The pending requests: the ring's buffers then its descriptor array; the session wait.
  std::vector<std::unique_ptr<Async>> ring;
  std::unique_ptr<Async> sessionWait;

 private:
  HANDLE device_ = INVALID_HANDLE_VALUE;
  uint32_t id_ = VTX_NO_SESSION;
  uint32_t bufferSize_ = 0;
  std::vector<uint8_t> block_;  // the ring's buffers
  std::vector<VtxDmaBufferData> descriptors_;
  VtxResult waitReply_{}, stopReply_{};
};

// Waits until `condition` holds, at most `seconds`; the caller asserts on
// the result (how long it took is never checked).
template <typename Condition>
bool Eventually(Condition condition, int seconds = 20) {
  for (int i = 0; i < seconds * 100 && !condition(); ++i) Sleep(10);
  return condition();
}

}  // namespace simtest
