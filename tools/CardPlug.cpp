#include "CardPlug.h"

#include "SimCard.h"

namespace tool {

CardPlug::CardPlug(vsim::Simulator& simulator, double removeAt, double insertAt,
                   std::function<void(const std::string&)> told)
    : simulator_(simulator), told_(std::move(told)), start_(std::chrono::steady_clock::now()) {
  if (removeAt >= 0) thread_ = std::thread([this, removeAt, insertAt] { run(removeAt, insertAt); });
}

CardPlug::~CardPlug() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    cancel_ = true;
  }
  cancelled_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool CardPlug::waitUntil(double seconds) {
  const auto when = start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(seconds));
  std::unique_lock<std::mutex> hold(lock_);
  return !cancelled_.wait_until(hold, when, [this] { return cancel_; });
}

void CardPlug::run(double removeAt, double insertAt) {
  if (!waitUntil(removeAt)) return;
  simulator_.RemoveCard(0);
  told_("Card removed");
  if (insertAt < 0 || !waitUntil(insertAt)) return;
  simulator_.InsertCard(0);
  told_("Card inserted");
}

}  // namespace tool
