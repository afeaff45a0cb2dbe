// What the host tests share: an adaptor that records the engine's calls, and
// a look at the engine error a call raises.
#pragma once

#include "ImaqEngine.h"

#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

// The identifier of the engine error `call` raises ("none" if it returns),
// and its message.
inline std::string identifierOf(const std::function<void()>& call, std::string* message = nullptr) {
  try {
    call();
  } catch (const imaqhost::HostError& error) {
    if (message != nullptr) *message = error.what();
    return error.identifier();
  }
  return "none";
}

// A T made in kit memory, as an adaptor makes what the host deletes; null
// when the allocation fails.
template <class T, class... Args>
T* makeInKitMemory(Args&&... args) {
  void* memory = imaqmalloc(sizeof(T));
  if (memory == nullptr) return nullptr;
  return new (memory) T(std::forward<Args>(args)...);
}

// Frames come from the test, as from a grab thread.
class ScriptedAdaptor final : public IAdaptor {
 public:
  explicit ScriptedAdaptor(IEngine* engine) : IAdaptor(engine) {}
  int maxFrameWidth() const override { return 4; }
  int maxFrameHeight() const override { return 2; }
  // The engine's check on its thread: the adaptor hands over what its grab thread left.
  int frameTypeCode() const override {
    std::function<void()> report;
    {
      std::lock_guard<std::mutex> hold(lock_);
      report.swap(leftReport_);
    }
    if (report) report();
    return int(imaqhost::kFrameTypeRgb24);
  }
  int bandCount() const override { return 3; }
  const char* driverDescription() const override { return "scripted"; }
  const char* driverVersion() const override { return "0"; }
  bool openCard() override { return record("open", opens); }
  bool closeCard() override { return record("close", true); }
  bool beginCapture() override { return record("begin", begins); }
  bool endCapture() override { return record("end", true); }

  // One frame, as the adaptor's callback delivers it.
  void grab(std::uint8_t value) {
    if (manager()->wantsFrame()) {
      IEngineFrame* frame = manager()->engine()->makeFrame(imaqhost::kFrameTypeRgb24, 4, 2);
      const std::vector<std::uint8_t> pixels(4 * 2 * 3, value);
      frame->copyImage(pixels.data(), 4, 2, 0, 0);
      frame->setTimeStamp(getCurrentTime());
      manager()->engine()->deliverFrame(frame);
    }
    manager()->countFrame();
  }
  // A report for the engine thread, left by the grab thread.
  void leaveReport(std::function<void()> report) {
    std::lock_guard<std::mutex> hold(lock_);
    leftReport_ = std::move(report);
  }
  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
  }

  bool opens = true;
  bool begins = true;

 private:
  bool record(const char* call, bool result) {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back(call);
    return result;
  }
  mutable std::mutex lock_;
  std::vector<std::string> calls_;
  mutable std::function<void()> leftReport_;
};
