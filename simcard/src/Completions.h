// Work that calls into the Win32 layer, gathered under a card's lock and done
// after it is released, so that the layer never waits for the card's lock
// while the card waits for the layer.
#pragma once

#include <windows.h>
#include <vwin32.h>

#include <memory>
#include <vector>

namespace vsim {

// A duplicate of a caller's event handle, as a kernel driver keeps a
// reference to the event object; closed when the last user lets it go.
struct EventRef {
  explicit EventRef(HANDLE h) : handle(h) {}
  ~EventRef() { CloseHandle(handle); }
  EventRef(const EventRef&) = delete;
  EventRef& operator=(const EventRef&) = delete;
  HANDLE handle;
};

class Completions {
 public:
  Completions() = default;
  Completions(const Completions&) = delete;
  Completions& operator=(const Completions&) = delete;
  ~Completions() { Run(); }
  void Complete(vw32::IoToken token, DWORD error, DWORD bytes) { done_.push_back({token, error, bytes}); }
  void Signal(std::shared_ptr<EventRef> event) { signal_.push_back(std::move(event)); }
  void Release(std::shared_ptr<EventRef> event) { release_.push_back(std::move(event)); }

  void Run() {
    // Completing first: a waiter woken by a completion finds the request done.
    for (const Done& d : done_) vw32::CompleteRequest(d.token, d.error, d.bytes);
    done_.clear();
    for (const auto& e : signal_) SetEvent(e->handle);
    signal_.clear();
    release_.clear();  // closes the duplicates nobody holds any more
  }

 private:
  struct Done {
    vw32::IoToken token;
    DWORD error;
    DWORD bytes;
  };
  std::vector<Done> done_;
  std::vector<std::shared_ptr<EventRef>> signal_, release_;
};

}  // namespace vsim
