// The simulated driver as the Win32 layer's I/O manager sees it: device
// paths "\\?\vantrel#simcard#<card index>#{EDDE25E4-...}" lead to the cards.
#pragma once

#include "Card.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vsim {

class SimDriver : public vw32::Driver {
 public:
  // The one driver of the process. It is never destroyed: handles opened
  // through it may be closed after the simulator has stopped.
  static SimDriver& Instance();

  static std::wstring DevicePath(int index);

  void SetCards(std::vector<std::shared_ptr<Card>> cards);
  void AddCard(std::shared_ptr<Card> card);
  std::shared_ptr<Card> CardAt(int index) const;
  std::vector<std::shared_ptr<Card>> Cards() const;

  DWORD Open(const wchar_t* path, bool overlapped, void** fileContext) override;
  void Close(void* fileContext) override;
  DWORD Ioctl(const vw32::IoRequest& request, vw32::IoToken token, DWORD* bytesReturned) override;
  void Cancel(void* fileContext) override;

 private:
  SimDriver() = default;
  mutable std::mutex mu_;
  std::vector<std::shared_ptr<Card>> cards_;
};

}  // namespace vsim
