#include "EngineThread.h"

#include <exception>
#include <future>

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

void EngineThread::post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (ending_) return;
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void EngineThread::call(const std::function<void()>& task) {
  if (std::this_thread::get_id() == thread_.get_id()) {
    task();
    return;
  }
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> result = done->get_future();
  post([&task, done] {
    try {
      task();
      done->set_value();
    } catch (...) {
      done->set_exception(std::current_exception());
    }
  });
  result.get();
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
