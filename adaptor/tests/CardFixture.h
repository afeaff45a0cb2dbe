// The adaptor module loaded by path, a video input on it through the stand-in
// engine, and the simulated card behind it.
#pragma once

#include "CardPattern.h"
#include "ImaqEngine.h"
#include "AdaptorLoader.h"
#include "SimCard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

// Long: it only turns a hang into a failure.
inline constexpr std::chrono::seconds kGuard{60};

// Polls until `condition` holds; false if it never does.
inline bool waitUntil(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + kGuard;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The engine refuses `call` with an error of this identifier, its message containing `inMessage`.
inline void expectHostError(const std::function<void()>& call, const char* identifier, const std::string& what,
                            const std::string& inMessage = "") {
  try {
    call();
    ADD_FAILURE() << what << ": accepted";
  } catch (const imaqhost::HostError& error) {
    EXPECT_EQ(error.identifier(), identifier) << what << ": " << error.what();
    EXPECT_NE(std::string(error.what()).find(inMessage), std::string::npos) << what << ": " << error.what();
  }
}

// One card; the camera sends 1080i25 as fast as buffers come back.
class CardFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    imaqhost::clearThreadRuleBreaches();
    sim_ = &vsim::Simulator::Start(1);
    sim_->SetPacing(vsim::Pacing::FreeRunning);
    std::string error;
    module_ = imaqhost::AdaptorModule::load(VANTRELIMAQ_PATH, error);
    ASSERT_NE(module_, nullptr) << error;
    input_ = imaqhost::VideoInput::create(module_->entryPoints());
  }
  // Every kit call of the adaptor came on the thread the kit allows it on.
  void TearDown() override {
    input_.reset();
    EXPECT_EQ(imaqhost::threadRuleBreaches(), std::vector<std::string>());
    vsim::Simulator::Stop();
  }

  vsim::Simulator& sim() { return *sim_; }
  imaqhost::VideoInput& input() { return *input_; }
  imaqhost::AdaptorManager& manager() { return input_->manager(); }
  // An adaptor operation, run on the engine thread as the engine runs it.
  template <class Result>
  Result onEngine(const std::function<Result()>& operation) {
    Result result{};
    input_->onEngineThread([&] { result = operation(); });
    return result;
  }
  // Starts an acquisition that runs until stopped, and waits for its first frames.
  void startEndless(std::size_t firstFrames = 1) {
    input_->set("FramesPerTrigger", "0");
    input_->start();
    ASSERT_TRUE(input_->waitForFrames(firstFrames, kGuard)) << "no frames";
  }
  // Acquires `frames` frames and hands them over.
  std::vector<std::unique_ptr<imaqhost::EngineFrame>> acquire(int frames) {
    input_->set("FramesPerTrigger", std::to_string(frames));
    input_->start();
    EXPECT_TRUE(input_->waitUntilStopped(kGuard)) << "the acquisition did not end";
    return input_->getData(std::size_t(frames) + 1);
  }

  std::unique_ptr<imaqhost::AdaptorModule> module_;
  std::unique_ptr<imaqhost::VideoInput> input_;

 private:
  vsim::Simulator* sim_ = nullptr;
};
