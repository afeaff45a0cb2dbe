// Removal and arrival of the card under an open session.
#include "SdkTestSupport.h"

namespace {

using HotPlugTest = OpenCardTest;

// The stop request cannot reach a removed card, but the grab is over; the
// access is given again on arrival and a new start prepares anew.
TEST_F(HotPlugTest, GrabStoppedWhileRemovedIsNotRestarted) {
  ASSERT_TRUE(Grabbing(sink));
  SetCardPresent(false);
  EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_ERR_FAILED);
  SetCardPresent(true);
  EXPECT_TRUE(session_->DeviceOpen());
  EXPECT_EQ(session_->Channel().State(), GrabChannelState::Idle) << "restarted on arrival";
  ASSERT_TRUE(Grabbing(other));
}

TEST_F(HotPlugTest, FailedReopenStillSeesTheNextArrival) {
  SetCardPresent(false);
  Sim().ConfigureCard(0, {1, L"PCIe Slot 1", true});
  Sim().InsertCard(0);
  ASSERT_TRUE(log_.WaitFor(L"hDevice == INVALID_HANDLE_VALUE"));
  Sim().ConfigureCard(0, {1, L"PCIe Slot 1", false});
  ASSERT_TRUE(WaitUntil([this] { return session_->DeviceOpen(); }));
  ASSERT_TRUE(WaitUntil([this] { return Sim().GetCounters().accessMask == 0x100u; }));
}

// The callbacks may run while the session ends; it waits for them.
TEST_F(HotPlugTest, EndingTheSessionDuringRemovalAndArrivalIsSafe) {
  ASSERT_TRUE(Grabbing(sink));
  Sim().RemoveCard(0);
  Sim().InsertCard(0);
  EXPECT_EQ(ORNSDI_Done(session_), ORNSDI_OK);
  session_ = nullptr;
  EXPECT_EQ(Sim().GetCounters().openSessions, 0u);
}

}  // namespace
