// Pulls the first simulated card and puts it back at given times, on a
// thread of its own, while an acquisition runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vsim {
class Simulator;
}

namespace tool {

class CardPlug {
 public:
  // Seconds from now; a negative time: not at all. `told` hears "Card removed"
  // and "Card inserted" as they happen.
  CardPlug(vsim::Simulator& simulator, double removeAt, double insertAt,
           std::function<void(const std::string&)> told);
  // Cancels what has not happened yet.
  ~CardPlug();
  CardPlug(const CardPlug&) = delete;
  CardPlug& operator=(const CardPlug&) = delete;

 private:
  void run(double removeAt, double insertAt);
  // False when cancelled before `seconds` from the start.
  bool waitUntil(double seconds);

  vsim::Simulator& simulator_;
  std::function<void(const std::string&)> told_;
  std::chrono::steady_clock::time_point start_;
  std::mutex lock_;
  std::condition_variable cancelled_;
  bool cancel_ = false;
  std::thread thread_;
};

}  // namespace tool
