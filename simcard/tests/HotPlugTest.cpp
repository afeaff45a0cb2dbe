// Removal and arrival of a card: pending requests, failing handles and the
// two named manual-reset events.
#include "DriverTestSupport.h"

#include <atomic>
#include <thread>
#include <tuple>

namespace simtest {
namespace {

using Event = std::unique_ptr<void, BOOL (*)(HANDLE)>;  // closed at the end
Event OpenNamed(const wchar_t* name) { return Event(OpenEventW(SYNCHRONIZE, FALSE, name), CloseHandle); }
bool IsSet(const Event& event) { return WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0; }

// Both events are manual-reset and stay set until every waiter can have
// seen them: the removed event until the sessions open at the removal have
// closed, the added event until the next removal, which takes it back.
TEST_F(SimTest, RemovalCompletesPendingRequestsAndSignals) {
  const Event removed = OpenNamed(VTX_REMOVED_EVENT), added = OpenNamed(VTX_ADDED_EVENT);
  ASSERT_TRUE(removed && added);
  EXPECT_FALSE(IsSet(removed));
  auto s = std::make_unique<Session>();
  ASSERT_TRUE(s->Ready(0, 1, 0, 2, false));
  sim().SetCameraConnected(false);
  ASSERT_EQ(s->Start(), 0u);
  VtxLockBufferOut out;
  auto lock = s->LockAsync(&out);
  ASSERT_TRUE(lock->Pending());

  sim().RemoveCard(0);
  EXPECT_EQ(std::make_tuple(IsSet(removed), IsSet(removed), IsSet(added)), std::make_tuple(true, true, false));
  std::vector<DWORD> errors{lock->Wait(), s->sessionWait->Wait()};
  for (auto& request : s->ring) errors.push_back(request->Wait());
  EXPECT_EQ(errors, std::vector<DWORD>(5, ERROR_DEVICE_NOT_CONNECTED));
  // The card is gone from the list. (Its handle's requests fail: the
  // grabber library's hot-plug tests.)
  EXPECT_TRUE(ListCards().empty());
  EXPECT_EQ(OpenDevice(sim().DevicePath(0), true), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

  sim().InsertCard(0);
  EXPECT_EQ(std::make_tuple(IsSet(removed), IsSet(added)), std::make_tuple(true, true));  // s has not closed yet
  EXPECT_EQ(ListCards(), std::vector<std::wstring>{sim().DevicePath(0)});
  s.reset();  // the session reacts: closes its handle
  EXPECT_TRUE(Eventually([&] { return !IsSet(removed); }));
  EXPECT_TRUE(IsSet(added));
  sim().RemoveCard(0);
  EXPECT_EQ(std::make_tuple(IsSet(removed), IsSet(added)), std::make_tuple(true, false));
  EXPECT_TRUE(Eventually([&] { return !IsSet(removed); }));  // no session: a short pulse
  sim().InsertCard(0);
}

TEST_F(SimTest, RemovalDuringAFreeRunningGrabEndsItCleanly) {
  sim().SetPacing(vsim::Pacing::FreeRunning);
  sim().AddCard(vsim::CardConfig{2, L"PCIe Slot 2", false});
  for (int cycle = 0; cycle < 20; ++cycle) {
    const int card = cycle % 2;
    auto s = std::make_unique<Session>(card);
    ASSERT_TRUE(s->Ready(uint8_t(cycle % 3), 1, 0, 4));
    std::atomic<int> frames{0};
    DWORD lastError = 0;
    std::thread grab([&] {
      VtxLockBufferOut out;
      while (!(lastError = s->LockFrame(&out))) {
        ++frames;
        s->Unlock(out.buffer.bufferIndex);
      }
    });
    EXPECT_TRUE(Eventually([&] { return frames.load() >= 3; })) << cycle;
    sim().RemoveCard(card);
    grab.join();
    EXPECT_EQ(lastError, DWORD(ERROR_DEVICE_NOT_CONNECTED)) << cycle;
    s.reset();
    sim().InsertCard(card);
  }
}

}  // namespace
}  // namespace simtest
