// Helpers of the grabber library's tests: a log capture, the simulated card
// around each test, and a frame callback that records what it receives.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

#include "LogCapture.h"
#include "ORNSDI.h"
#include "ORNSDI_GIS.h"
#include "SimCard.h"

// Polls until `condition` holds; false if it never does within `guard` (a hang).
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds guard = std::chrono::seconds(60));

// The simulated card (one unless a test asks for more) and the log capture.
class SimTest : public ::testing::Test {
 protected:
  explicit SimTest(int cards = 1) { vsim::Simulator::Start(cards); }
  ~SimTest() override { vsim::Simulator::Stop(); }
  vsim::Simulator& Sim() { return *vsim::Simulator::Instance(); }

  LogCapture log_;
};

// A session on the first card (the test fails when none opens), ended after
// the test.
class SessionOpenTest : public SimTest {
 protected:
  void SetUp() override { ASSERT_NE(session_ = static_cast<ORNSDI_GIS*>(ORNSDI_Init()), nullptr); }
  void TearDown() override {
    if (session_) ORNSDI_Done(session_);
  }

  ORNSDI_GIS* session_ = nullptr;
};

// A frame callback that records every call and counts calls that overlap
// another call. A test may give it something to do inside the first callback.
class FrameSink {
 public:
  static void Callback(void* context, ORNSDI_FrameInfo* info);
  // Waits until `count` calls with this status arrived (see WaitUntil).
  bool WaitFor(uint32_t status, size_t count) {
    return WaitUntil([&] { return Count(status) >= count; });
  }
  std::vector<ORNSDI_FrameInfo> Frames() const {
    std::lock_guard<std::mutex> hold(lock_);
    return frames_;
  }
  size_t Count(uint32_t status) const {
    return size_t(std::ranges::count(Frames(), status, &ORNSDI_FrameInfo::status));
  }
  int Overlaps() const { return overlaps_.load(); }
  std::function<void(const ORNSDI_FrameInfo&)> onFirstFrame;

 private:
  mutable std::mutex lock_;
  std::vector<ORNSDI_FrameInfo> frames_;
  std::atomic<int> inside_{0}, overlaps_{0};
  std::atomic<bool> first_{true};
};

// A free-running card, opened with DMA access taken; ended after the test,
// which also ends the grab before its sinks go.
class OpenCardTest : public SessionOpenTest {
 protected:
  void SetUp() override;
  // The grab threads have ended (they leave the channel alone from then on).
  bool ThreadsEnded() {
    return WaitUntil([this] { return session_->Channel().liveThreads.load() == 0; });
  }
  // The card goes, or comes back, and the session's callback has finished.
  void SetCardPresent(bool present);
  // Starts a grab for `sink` and waits for `frames` good frames.
  bool Grabbing(FrameSink& sink, size_t frames = 3);
  FrameSink sink, other;
};

// Starts a grab on an opened session with DMA access; returns its status.
uint32_t StartGrab(ORNSDI_GIS* session, FrameSink& sink, ORNSDI_CameraData* camera = nullptr);
