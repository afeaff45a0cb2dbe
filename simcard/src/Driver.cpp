#include "Driver.h"

#include <cwctype>

namespace vsim {
namespace {
constexpr const wchar_t* kPathPrefix = L"\\\\?\\vantrel#simcard#";
constexpr const wchar_t* kPathClass = L"#{edde25e4-9980-4876-9217-ad8aa1b92a03}";

// The card index in a device path, or -1.
int IndexOfPath(const wchar_t* path) {
  const std::wstring p(path);
  const std::wstring prefix(kPathPrefix);
  if (p.size() <= prefix.size()) return -1;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::towlower(p[i]) != std::towlower(prefix[i])) return -1;
  }
  size_t i = prefix.size();
  long index = 0;
  const size_t digits = i;
  while (i < p.size() && std::iswdigit(p[i]) && index < 1000000) index = index * 10 + (p[i++] - L'0');
  if (i == digits) return -1;
  std::wstring rest = p.substr(i);
  for (wchar_t& c : rest) c = static_cast<wchar_t>(std::towlower(c));
  return rest == kPathClass ? static_cast<int>(index) : -1;
}
}  // namespace

SimDriver& SimDriver::Instance() {
  static SimDriver* driver = new SimDriver();
  return *driver;
}

std::wstring SimDriver::DevicePath(int index) { return kPathPrefix + std::to_wstring(index) + kPathClass; }

void SimDriver::SetCards(std::vector<std::shared_ptr<Card>> cards) {
  std::lock_guard<std::mutex> lock(mu_);
  cards_ = std::move(cards);
}

void SimDriver::AddCard(std::shared_ptr<Card> card) {
  std::lock_guard<std::mutex> lock(mu_);
  cards_.push_back(std::move(card));
}

std::shared_ptr<Card> SimDriver::CardAt(int index) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (index < 0 || static_cast<size_t>(index) >= cards_.size()) return nullptr;
  return cards_[index];
}

std::vector<std::shared_ptr<Card>> SimDriver::Cards() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cards_;
}

// Synchronous and overlapped handles are served alike; a request that stays
// pending on a synchronous handle keeps its caller waiting, as on Windows.
DWORD SimDriver::Open(const wchar_t* path, bool /*overlapped*/, void** fileContext) {
  const std::shared_ptr<Card> card = CardAt(path ? IndexOfPath(path) : -1);
  if (!card) return ERROR_FILE_NOT_FOUND;
  File* file = nullptr;
  const DWORD error = card->Open(&file);
  if (error == ERROR_SUCCESS) *fileContext = file;
  return error;
}

void SimDriver::Close(void* fileContext) {
  File* file = static_cast<File*>(fileContext);
  const std::shared_ptr<Card> card = file->card;
  card->Close(file);
  delete file;
}

DWORD SimDriver::Ioctl(const vw32::IoRequest& request, vw32::IoToken token, DWORD* bytesReturned) {
  File* file = static_cast<File*>(request.fileContext);
  return file->card->Ioctl(file, request, token, bytesReturned);
}

void SimDriver::Cancel(void* fileContext) {
  File* file = static_cast<File*>(fileContext);
  file->card->Cancel(file);
}

}  // namespace vsim
