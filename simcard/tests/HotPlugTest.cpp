// Removal and arrival of a card: pending requests, failing handles and the
// two named manual-reset events.
#include "DriverTestSupport.h"

#include <atomic>
#include <thread>

namespace simtest {
namespace {

struct NamedEvent {
  explicit NamedEvent(const wchar_t* name) : handle(OpenEventW(SYNCHRONIZE, FALSE, name)) {}
  ~NamedEvent() {
    if (handle) CloseHandle(handle);
  }
  bool Set() const { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }
  HANDLE handle;
};

TEST_F(SimTest, RemovalCompletesPendingRequestsAndSignals) {
  NamedEvent removed(VTX_REMOVED_EVENT), added(VTX_ADDED_EVENT);
  ASSERT_NE(removed.handle, nullptr);
  ASSERT_NE(added.handle, nullptr);
  EXPECT_FALSE(removed.Set());
  Session s;
  ASSERT_TRUE(s.Ready(0, 1, 0, 2, false));
  sim().SetCameraConnected(false);
  ASSERT_EQ(s.Start(), 0u);
  VtxLockBufferOut out;
  auto lock = s.LockAsync(&out);
  ASSERT_TRUE(lock->Pending());

  sim().RemoveCard(0);
  EXPECT_TRUE(removed.Set());
  EXPECT_FALSE(added.Set());
  EXPECT_EQ(lock->Wait(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(s.sessionWait->Wait(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
  for (auto& b : s.buffers) EXPECT_EQ(b->Wait(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(s.descriptorRequest->Wait(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
  // The handle fails from now on; the card is gone from the list.
  VtxCameraConnectedOut connected;
  EXPECT_EQ(s.Request(VTXCTL_IS_CAMERA_CONNECTED, &connected), 0xFFFFFFFFu);
  EXPECT_EQ(s.lastError(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_TRUE(ListCards().empty());
  EXPECT_EQ(OpenDevice(sim().DevicePath(0), true), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(sim().GetCounters().openSessions, 0u);
  EXPECT_EQ(sim().GetCounters().pendingRequests, 0u);

  sim().InsertCard(0);
  EXPECT_TRUE(added.Set());
  EXPECT_EQ(ListCards(), std::vector<std::wstring>{sim().DevicePath(0)});
  EXPECT_EQ(s.Request(VTXCTL_IS_CAMERA_CONNECTED, &connected), 0xFFFFFFFFu);  // the old handle stays dead
  Session again;
  ASSERT_EQ(again.TakeAccess(), 0u);  // the dead handle's access went with the card
  EXPECT_EQ(again.Request(VTXCTL_IS_CAMERA_CONNECTED, &connected), 0u);
  EXPECT_EQ(connected.connected, 0);
}

// Both events stay set until every waiter can have seen them (manual reset:
// one waiter's wait does not take the signal from the next): the removed
// event until the sessions open at the removal have closed, the added event
// until the next removal.
TEST_F(SimTest, RemovedEventIsResetAfterTheSessionsReactedAndArrivalUntilTheNextRemoval) {
  NamedEvent removed(VTX_REMOVED_EVENT), added(VTX_ADDED_EVENT);
  auto session = std::make_unique<Session>();
  sim().RemoveCard(0);
  ASSERT_TRUE(removed.Set());
  ASSERT_TRUE(removed.Set());
  session.reset();  // the session reacts: closes its handle
  EXPECT_TRUE(Eventually([&] { return !removed.Set(); }));
  sim().InsertCard(0);
  EXPECT_TRUE(added.Set());
  EXPECT_TRUE(added.Set());
  EXPECT_FALSE(removed.Set());
  // The next removal takes the arrival back, so that late arrival waits wait.
  sim().RemoveCard(0);
  EXPECT_FALSE(added.Set());
  EXPECT_TRUE(removed.Set());
  EXPECT_TRUE(Eventually([&] { return !removed.Set(); }));  // no session: a short pulse
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
  EXPECT_EQ(sim().GetCounters().pendingRequests, 0u);
  EXPECT_EQ(sim().GetCounters().openSessions, 0u);
}

}  // namespace
}  // namespace simtest
