// The engine's own thread: the adaptor's operations and property notices run
// here, one task at a time, as in the toolbox engine.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace imaqhost {

class EngineThread {
 public:
  EngineThread();
  // Ends the thread; tasks still queued are dropped.
  ~EngineThread();
  EngineThread(const EngineThread&) = delete;
  EngineThread& operator=(const EngineThread&) = delete;

  // Queues a task and returns at once (for the adaptor's threads); false
  // once the thread is ending.
  bool post(std::function<void()> task);
  // Runs a task on the thread and waits for it; its exception passes on to
  // the caller. On the engine thread itself the task runs at once.
  void call(const std::function<void()>& task);
  std::thread::id id() const { return thread_.get_id(); }

 private:
  void run();

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace imaqhost
