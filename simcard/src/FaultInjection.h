// Faults a test asks the card for: DMA errors on the next frames and fixed
// answers to requests. Called with the card's lock held.
#pragma once

#include <cstdint>
#include <map>

namespace vsim {

class FaultInjection {
 public:
  // The next `count` frames carry `status` (0 clears).
  void InjectDmaError(uint32_t status, int count) {
    dmaErrorStatus_ = status;
    dmaErrorCount_ = status ? count : 0;
  }
  // The dmaStatus of the frame being captured: 0, or an injected error.
  uint32_t NextDmaStatus() {
    if (dmaErrorCount_ <= 0) return 0;
    --dmaErrorCount_;
    return dmaErrorStatus_;
  }
  // Requests with `code` answer driverResult `result` (0 clears).
  void FailRequest(uint32_t code, uint32_t result) {
    if (result) {
      failures_[code] = result;
    } else {
      failures_.erase(code);
    }
  }
  // The result a request with `code` must answer, or 0 when it is served.
  uint32_t Failure(uint32_t code) const {
    const auto it = failures_.find(code);
    return it == failures_.end() ? 0 : it->second;
  }

 private:
  uint32_t dmaErrorStatus_ = 0;
  int dmaErrorCount_ = 0;
  std::map<uint32_t, uint32_t> failures_;
};

}  // namespace vsim
