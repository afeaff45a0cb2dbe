// What the grab thread found that the engine must hear. The kit allows no
// report on the grab thread, so the frame callback records it here and the
// adaptor hands it over at its next operation on the engine thread.
#pragma once

#include "imaqkit.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel {

inline constexpr const char* kFrameLostId = "imaq:vantrelimaq:frameLost";

class GrabFindings {
 public:
  // Grab thread. Nothing may unwind into the grabber library from there:
  // without memory for a text the lost frame is still counted.
  // A frame that was lost: one "imaq:vantrelimaq:frameLost" warning each.
  void frameLost(const char* message) noexcept;
  // A failure that ends the acquisition (`identifier` a static text); the
  // first one is kept, as the engine keeps only the first.
  void deviceError(const char* identifier, const char* message) noexcept;
  // Reports what was recorded, warnings first, and forgets it. Engine thread only.
  void handOver(IAdaptorManager& manager);
  // Forgets what a grab that has ended left behind.
  void clear();

 private:
  // Beyond this many waiting warnings, lost frames are only counted, so that
  // a storm of DMA errors cannot grow the list while the engine thread is busy.
  static constexpr std::size_t kMaxWarnings = 64;

  std::mutex lock_;
  std::vector<std::string> warnings_;
  unsigned long long moreLost_ = 0;
  const char* errorId_ = nullptr;
  std::string errorMessage_;
};

}  // namespace vantrel
