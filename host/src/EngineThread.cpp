#include "EngineThread.h"

#include <exception>
#include <stdexcept>

namespace imaqhost {

EngineThread::EngineThread() : thread_([this] { run(); }) {}

EngineThread::~EngineThread() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ending_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool EngineThread::post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (ending_) return false;
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
  return true;
}

// The task's exception is handed over under a lock, so that the engine
// thread is done with it before the caller takes it.
void EngineThread::call(const std::function<void()>& task) {
  if (std::this_thread::get_id() == thread_.get_id()) {
    task();
    return;
  }
  std::mutex doneLock;
  std::condition_variable doneSignal;
  bool done = false;
  std::exception_ptr failure;
  const bool queued = post([&] {
    try {
      task();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard<std::mutex> hold(doneLock);
    done = true;
    doneSignal.notify_all();
  });
  if (!queued) throw std::logic_error("the engine thread has ended");
  std::unique_lock<std::mutex> hold(doneLock);
  doneSignal.wait(hold, [&] { return done; });
  hold.unlock();
  if (failure) std::rethrow_exception(failure);
}

void EngineThread::run() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [this] { return ending_ || !tasks_.empty(); });
      if (ending_) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace imaqhost
