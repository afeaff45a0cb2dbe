#include "SdkTestSupport.h"

void OpenCardTest::SetUp() {
  SessionOpenTest::SetUp();
  Sim().SetPacing(vsim::Pacing::FreeRunning);
  ASSERT_EQ(ORNSDI_GetDMAAccess(session_, 0), ORNSDI_OK);
}

void OpenCardTest::SetCardPresent(bool present) {
  const wchar_t* done = present ? L"OnCardStarted Leave" : L"OnCardStopped Leave";
  const size_t seen = log_.Count(done);
  present ? Sim().InsertCard(0) : Sim().RemoveCard(0);
  ASSERT_TRUE(log_.WaitFor(done, seen + 1));
}

bool OpenCardTest::Grabbing(FrameSink& sink, size_t frames) {
  return StartGrab(session_, sink) == ORNSDI_OK && sink.WaitFor(0, frames);
}

void FrameSink::Callback(void* context, ORNSDI_FrameInfo* info) {
  auto* sink = static_cast<FrameSink*>(context);
  if (sink->inside_.fetch_add(1) != 0) sink->overlaps_.fetch_add(1);
  std::unique_lock<std::mutex> hold(sink->lock_);
  sink->frames_.push_back(*info);
  hold.unlock();
  if (sink->first_.exchange(false) && sink->onFirstFrame) sink->onFirstFrame(*info);
  sink->inside_.fetch_sub(1);
}

uint32_t StartGrab(ORNSDI_GIS* session, FrameSink& sink, ORNSDI_CameraData* camera) {
  ORNSDI_CameraData local{};  // the 10-bit layout
  return ORNSDI_StartGrab(session, 0, 0, camera ? camera : &local, FrameSink::Callback, &sink);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds guard) {
  const auto end = std::chrono::steady_clock::now() + guard;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(5);
  }
  return true;
}
