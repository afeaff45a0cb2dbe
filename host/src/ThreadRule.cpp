#include "ThreadRule.h"

#include "ImaqHost.h"

#include <algorithm>
#include <mutex>

namespace imaqhost {
namespace {

thread_local bool grabThread = false;
std::mutex breachesLock;
std::vector<std::string> breaches;  // each breach once, in order

void record(std::string breach) {
  std::lock_guard<std::mutex> hold(breachesLock);
  if (std::find(breaches.begin(), breaches.end(), breach) == breaches.end()) breaches.push_back(std::move(breach));
}

}  // namespace

void noteGrabCall(std::thread::id engineThread) {
  if (engineThread != std::thread::id() && std::this_thread::get_id() != engineThread) grabThread = true;
}

void checkEngineCall(const char* call, std::thread::id engineThread) {
  if (grabThread) {
    record(std::string(call) + " on a grab thread");
  } else if (engineThread != std::thread::id() && std::this_thread::get_id() != engineThread) {
    record(std::string(call) + " off the engine thread");
  }
}

std::vector<std::string> threadRuleBreaches() {
  std::lock_guard<std::mutex> hold(breachesLock);
  return breaches;
}

void clearThreadRuleBreaches() {
  std::lock_guard<std::mutex> hold(breachesLock);
  breaches.clear();
}

}  // namespace imaqhost
