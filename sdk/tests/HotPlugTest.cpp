// Removal and arrival of the card under an open session.
#include "SdkTestSupport.h"

namespace {

using HotPlugTest = OpenCardTest;

TEST_F(HotPlugTest, GrabStoppedWhileRemovedIsNotRestarted) {
  FrameSink sink(&session_->Channel());
  ASSERT_EQ(StartGrab(session_, sink), ORNSDI_OK);
  ASSERT_TRUE(sink.WaitFor(0, 3));
  Remove();
  // The stop request cannot reach a removed card, but the grab is over.
  EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_ERR_FAILED);
  EXPECT_EQ(session_->Channel().State(), GrabChannelState::Idle);
  Insert();
  EXPECT_TRUE(session_->DeviceOpen());
  EXPECT_EQ(session_->Channel().State(), GrabChannelState::Idle);
  EXPECT_EQ(session_->Channel().liveThreads.load(), 0);
  EXPECT_EQ(Sim().GetCounters().accessMask, 0x100u);  // access is given again
  // The reopened device has no prepared ring: a new start prepares anew.
  const size_t before = sink.Frames().size();
  ASSERT_EQ(StartGrab(session_, sink), ORNSDI_OK);
  EXPECT_TRUE(sink.WaitFor(0, before + 3));
  EXPECT_EQ(Sim().GetCounters().prepareCount, 2u);
  EXPECT_EQ(ORNSDI_StopGrab(session_, 0), ORNSDI_OK);
}

TEST_F(HotPlugTest, ArrivalWhileOpenChangesNothing) {
  HANDLE device = session_->hDevice.load();
  log_.Clear();
  ORNSDI_GIS::OnCardStarted(session_, FALSE);
  const std::vector<std::wstring> expected = {L"OnCardStarted Enter", L"hDevice != INVALID_HANDLE_VALUE",
                                              L"OnCardStarted Leave"};
  EXPECT_EQ(log_.Messages(), expected);
  EXPECT_EQ(log_.One(L"hDevice != INVALID_HANDLE_VALUE").function, "ORNSDI_GIS::OnCardStarted");
  EXPECT_EQ(session_->hDevice.load(), device);
  EXPECT_EQ(Sim().GetCounters().openSessions, 1u);
}

TEST_F(HotPlugTest, FailedReopenStillSeesTheNextArrival) {
  Remove();
  Sim().ConfigureCard(0, {1, L"PCIe Slot 1", true});
  Sim().InsertCard(0);
  ASSERT_TRUE(log_.WaitFor(L"hDevice == INVALID_HANDLE_VALUE"));
  Sim().ConfigureCard(0, {1, L"PCIe Slot 1", false});
  ASSERT_TRUE(WaitUntil([this] { return session_->DeviceOpen(); }));
  ASSERT_TRUE(WaitUntil([this] { return Sim().GetCounters().accessMask == 0x100u; }));
  EXPECT_EQ(ORNSDI_ReleaseDMAAccess(session_, 0), ORNSDI_OK);
}

TEST_F(HotPlugTest, EndingTheSessionDuringRemovalAndArrivalIsSafe) {
  FrameSink sink(&session_->Channel());
  ASSERT_EQ(StartGrab(session_, sink), ORNSDI_OK);
  ASSERT_TRUE(sink.WaitFor(0, 3));
  Sim().RemoveCard(0);
  Sim().InsertCard(0);
  // The callbacks may run at this moment; the session waits for them.
  EXPECT_EQ(ORNSDI_Done(session_), ORNSDI_OK);
  session_ = nullptr;
  EXPECT_EQ(Sim().GetCounters().openSessions, 0u);
}

}  // namespace
