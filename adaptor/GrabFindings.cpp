#include "GrabFindings.h"

#include <cstdio>
#include <utility>

namespace vantrel {

void GrabFindings::frameLost(const char* message) noexcept {
  std::lock_guard<std::mutex> hold(lock_);
  try {
    if (warnings_.size() < kMaxWarnings) {
      warnings_.emplace_back(message);
      return;
    }
  } catch (...) {
    // No memory for the text: the frame is still counted below.
  }
  ++moreLost_;
}

void GrabFindings::deviceError(const char* identifier, const char* message) noexcept {
  std::lock_guard<std::mutex> hold(lock_);
  if (errorId_ != nullptr) return;
  errorId_ = identifier;
  try {
    errorMessage_ = message;
  } catch (...) {
    errorMessage_.clear();  // the identifier alone still ends the acquisition
  }
}

// The reports go out after the lock is released: the engine may act on them
// at once, and the grab thread must never wait for that.
void GrabFindings::handOver(IAdaptorManager& manager) {
  std::vector<std::string> warnings;
  unsigned long long moreLost = 0;
  const char* errorId = nullptr;
  std::string errorMessage;
  {
    std::lock_guard<std::mutex> hold(lock_);
    warnings.swap(warnings_);
    std::swap(moreLost, moreLost_);
    std::swap(errorId, errorId_);
    errorMessage.swap(errorMessage_);
  }
  for (const std::string& warning : warnings) manager.reportWarning(kFrameLostId, warning.c_str());
  if (moreLost > 0) {
    char message[96];
    std::snprintf(message, sizeof(message), "%llu more frames were lost.", moreLost);
    manager.reportWarning(kFrameLostId, message);
  }
  if (errorId != nullptr) manager.reportDeviceError(errorId, errorMessage.c_str());
}

void GrabFindings::clear() {
  std::lock_guard<std::mutex> hold(lock_);
  warnings_.clear();
  moreLost_ = 0;
  errorId_ = nullptr;
  errorMessage_.clear();
}

}  // namespace vantrel
