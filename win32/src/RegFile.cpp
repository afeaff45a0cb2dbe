#include "RegFile.h"

#include <algorithm>
#include <cstring>

#include "Text.h"

namespace vw32::detail {

namespace {

constexpr std::wstring_view kHeader = L"Windows Registry Editor Version 5.00";

bool LessNoCase(std::wstring_view a, std::wstring_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) { return FoldCase(x) < FoldCase(y); });
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::wstring Units(const std::vector<uint8_t>& data) {
  std::wstring units(data.size() / sizeof(WCHAR), L'\0');
  if (!units.empty()) std::memcpy(units.data(), data.data(), units.size() * sizeof(WCHAR));
  return units;
}

std::vector<uint8_t> Bytes(std::wstring_view units) {
  std::vector<uint8_t> data(units.size() * sizeof(WCHAR));
  if (!data.empty()) std::memcpy(data.data(), units.data(), data.size());
  return data;
}

std::wstring_view Trim(std::wstring_view text) {
  size_t begin = text.find_first_not_of(L" \t");
  if (begin == std::wstring_view::npos) return {};
  size_t end = text.find_last_not_of(L" \t\r");
  return text.substr(begin, end - begin + 1);
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// One to eight hex digits at the start of text, as regedit reads a dword or
// a type; pos moves past them.
bool HexNumber(std::wstring_view text, size_t& pos, DWORD* value) {
  size_t start = pos;
  DWORD n = 0;
  for (int digit; pos < text.size() && (digit = HexDigit(text[pos])) >= 0; ++pos) {
    if (pos - start == 8) return false;
    n = (n << 4) | DWORD(digit);
  }
  *value = n;
  return pos > start;
}

// A quoted text with \\ and \" escapes starting at text[pos] (the quote);
// pos moves past the closing quote.
bool Quoted(std::wstring_view text, size_t& pos, std::wstring* out) {
  if (pos >= text.size() || text[pos] != L'"') return false;
  for (++pos; pos < text.size(); ++pos) {
    wchar_t c = text[pos];
    if (c == L'"') {
      ++pos;
      return true;
    }
    if (c == L'\\' && pos + 1 < text.size()) c = text[++pos];
    *out += c;
  }
  return false;
}

// Bytes as hex pairs between commas and blanks ("00,4f, 3"); a lone digit
// before a separator is a byte of its own.
bool HexBytes(std::wstring_view text, std::vector<uint8_t>* out) {
  out->reserve(text.size() / 3 + 1);
  int digits = 0;
  unsigned byte = 0;
  for (wchar_t c : text) {
    if (c == L',' || c == L' ' || c == L'\t') {
      if (digits == 0) continue;
    } else if (int digit = HexDigit(c); digit >= 0) {
      byte = (byte << 4) | unsigned(digit);
      if (++digits < 2) continue;
    } else {
      return false;
    }
    out->push_back(uint8_t(byte));
    digits = 0;
    byte = 0;
  }
  if (digits) out->push_back(uint8_t(byte));
  return true;
}

// The data part of a value line: "text", dword:..., hex:..., hex(N):... or
// "-" (a deletion: *deleted is set).
bool ValueData(std::wstring_view text, RegValue* value, bool* deleted) {
  size_t pos = 0;
  *deleted = false;
  if (text == L"-") {
    *deleted = true;
    return true;
  }
  if (text.starts_with(L"\"")) {
    std::wstring s;
    if (!Quoted(text, pos, &s)) return false;
    value->type = REG_SZ;
    value->data = TextData(s);
    return true;
  }
  if (text.starts_with(L"dword:")) {
    // regedit's rule: one to eight digits, then nothing but blanks or a comment.
    pos = text.find_first_not_of(L" \t", 6);
    DWORD n;
    if (pos == std::wstring_view::npos || !HexNumber(text, pos, &n)) return false;
    pos = text.find_first_not_of(L" \t", pos);
    if (pos != std::wstring_view::npos && text[pos] != L';') return false;
    value->type = REG_DWORD;
    value->data = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    return true;
  }
  if (!text.starts_with(L"hex")) return false;
  value->type = REG_BINARY;
  pos = 3;
  if (pos < text.size() && text[pos] == L'(') {
    ++pos;
    if (!HexNumber(text, pos, &value->type) || pos >= text.size() || text[pos] != L')') return false;
    ++pos;
  }
  if (pos >= text.size() || text[pos] != L':') return false;
  std::vector<uint8_t> bytes;
  if (!HexBytes(text.substr(pos + 1), &bytes)) return false;
  // Texts are stored as UTF-16LE bytes in the file.
  value->data = IsText(value->type) ? Bytes(FromUtf16Le(bytes.data(), bytes.size())) : std::move(bytes);
  return true;
}

void ParseValue(std::wstring_view line, RegKey* key) {
  RegValue value;
  size_t pos = 0;
  if (line[0] == L'@') {
    pos = 1;
  } else if (!Quoted(line, pos, &value.name)) {
    return;
  }
  while (pos < line.size() && line[pos] == L' ') ++pos;
  if (pos >= line.size() || line[pos] != L'=') return;
  bool deleted;
  if (!key || !ValueData(Trim(line.substr(pos + 1)), &value, &deleted)) return;
  if (deleted) {
    key->RemoveValue(value.name);
  } else {
    key->SetValue(std::move(value));
  }
}

// A [path] or [-path] line: the key that the following values go to, or
// nullptr. False when the path is deeper than a hive can be.
bool Section(std::wstring_view line, RegKey& root, RegKey** key) {
  *key = nullptr;
  std::wstring_view path = line.substr(1, line.size() - 2);
  const bool remove = path.starts_with(L"-");
  if (remove) path.remove_prefix(1);
  std::vector<std::wstring_view> parts;
  for (size_t start = 0; start <= path.size();) {
    size_t end = std::min(path.find(L'\\', start), path.size());
    if (end > start) {
      if (parts.size() > kMaxKeyDepth) return false;  // the hive and kMaxKeyDepth levels below it
      parts.push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  if (parts.empty()) return true;
  const std::wstring hive = HiveName(parts[0]);
  RegKey* parent = remove ? root.Find(hive) : root.Add(hive);
  for (size_t i = 1; i + 1 < parts.size() && parent; ++i) parent = remove ? parent->Find(parts[i]) : parent->Add(parts[i]);
  if (!parent) return true;
  if (parts.size() == 1) {
    // A hive is never removed.
    if (!remove) *key = parent;
    return true;
  }
  if (remove) {
    parent->Remove(parts.back());
  } else {
    *key = parent->Add(parts.back());
  }
  return true;
}

std::wstring Escape(std::wstring_view text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') out += L'\\';
    out += c;
  }
  return out;
}

// hex(N): lines as regedit wraps them: at most 80 columns, ",\" at the end
// of a wrapped line, two spaces before the next.
void HexValue(const std::wstring& prefix, const std::vector<uint8_t>& bytes, std::wstring& out) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  out += prefix;
  size_t column = prefix.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    const size_t item = i + 1 < bytes.size() ? 3 : 2;
    if (column + item > 78 && i > 0) {
      out += L"\\\r\n  ";
      column = 2;
    }
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0xF];
    if (item == 3) out += L',';
    column += item;
  }
}

// A REG_SZ that the quoted form can hold: terminated, no other zero, no line end.
bool PlainText(const RegValue& value, std::wstring* text) {
  if (value.type != REG_SZ || value.data.size() % sizeof(WCHAR) != 0) return false;
  std::wstring units = Units(value.data);
  if (units.empty() || units.back() != L'\0') return false;
  units.pop_back();
  if (units.find_first_of(std::wstring_view(L"\0\r\n", 3)) != std::wstring::npos) return false;
  *text = std::move(units);
  return true;
}

void ValueLine(const RegValue& value, std::wstring& out) {
  const std::wstring name = value.name.empty() ? L"@" : L"\"" + Escape(value.name) + L"\"";
  std::wstring text;
  if (PlainText(value, &text)) {
    out += name + L"=\"" + Escape(text) + L"\"";
    return;
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    wchar_t digits[16];
    DWORD n = DWORD(value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) | (DWORD(value.data[3]) << 24));
    std::swprintf(digits, 16, L"%08x", n);
    out += name + L"=dword:" + digits;
    return;
  }
  std::vector<uint8_t> bytes = IsText(value.type) ? ToUtf16Le(Units(value.data)) : value.data;
  wchar_t type[24];
  if (value.type == REG_BINARY) {
    std::swprintf(type, 24, L"=hex:");
  } else {
    std::swprintf(type, 24, L"=hex(%x):", unsigned(value.type));
  }
  HexValue(name + type, bytes, out);
}

void WriteSection(const RegKey& key, const std::wstring& path, std::wstring& out) {
  out += L"[";
  out += path;
  out += L"]\r\n";
  for (size_t i = 0; i < key.ValueCount(); ++i) {
    ValueLine(*key.ValueAt(i), out);
    out += L"\r\n";
  }
  out += L"\r\n";
}

}  // namespace

// ---- Keys ------------------------------------------------------------------------

size_t NameIndex::Hash(std::wstring_view name) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : name) hash = (hash ^ uint64_t(uint32_t(FoldCase(c)))) * 1099511628211ull;
  return size_t(hash ^ (hash >> 29));
}

template <class NameOf>
size_t NameIndex::Find(std::wstring_view name, size_t hash, const NameOf& nameOf) const {
  if (slots_.empty()) return kNone;
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.id == kEmpty) return kNone;
    if (slot.id != kRemoved && slot.hash == hash && EqualNoCase(nameOf(slot.id), name)) return slot.id;
  }
}

void NameIndex::Insert(size_t hash, size_t id) {
  if ((used_ + 1) * 4 > slots_.size() * 3) {
    size_t size = 16;
    while (size < (live_ + 1) * 2) size *= 2;
    Resize(size);
  }
  const size_t mask = slots_.size() - 1;
  size_t i = hash & mask;
  while (slots_[i].id != kEmpty && slots_[i].id != kRemoved) i = (i + 1) & mask;
  if (slots_[i].id == kEmpty) ++used_;
  slots_[i] = {hash, id};
  ++live_;
}

void NameIndex::Remove(size_t hash, size_t id) {
  if (slots_.empty()) return;
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask; slots_[i].id != kEmpty; i = (i + 1) & mask) {
    if (slots_[i].id == id) {
      slots_[i].id = kRemoved;
      --live_;
      return;
    }
  }
}

void NameIndex::Clear() {
  std::vector<Slot>().swap(slots_);
  live_ = used_ = 0;
}

void NameIndex::Resize(size_t size) {
  std::vector<Slot> old(size, Slot{0, kEmpty});
  old.swap(slots_);
  const size_t mask = size - 1;
  for (const Slot& slot : old) {
    if (slot.id == kEmpty || slot.id == kRemoved) continue;
    size_t i = slot.hash & mask;
    while (slots_[i].id != kEmpty) i = (i + 1) & mask;
    slots_[i] = slot;
  }
  used_ = live_;
}

RegKey::~RegKey() {
  // The subkeys are taken apart here, one level at a time, so that no
  // destructor below runs with subkeys left: the stack stays flat however
  // deep the tree.
  std::vector<std::unique_ptr<RegKey>> doomed = std::move(subkeys_);
  while (!doomed.empty()) {
    std::unique_ptr<RegKey> key = std::move(doomed.back());
    doomed.pop_back();
    for (auto& child : key->subkeys_) doomed.push_back(std::move(child));
    key->subkeys_.clear();
  }
}

size_t RegKey::FindSubkey(std::wstring_view child) const {
  if (subkeyIndex_.Built()) {
    return subkeyIndex_.Find(child, NameIndex::Hash(child), [this](size_t i) { return std::wstring_view(subkeys_[i]->name); });
  }
  for (size_t i = 0; i < subkeys_.size(); ++i) {
    if (EqualNoCase(subkeys_[i]->name, child)) return i;
  }
  return NameIndex::kNone;
}

RegKey* RegKey::Find(std::wstring_view child) const {
  size_t at = FindSubkey(child);
  return at == NameIndex::kNone ? nullptr : subkeys_[at].get();
}

RegKey* RegKey::Add(std::wstring_view child) {
  if (RegKey* existing = Find(child)) return existing;
  subkeys_.push_back(std::make_unique<RegKey>(child));
  sortedValid_ = false;
  if (subkeyIndex_.Built()) {
    subkeyIndex_.Insert(NameIndex::Hash(child), subkeys_.size() - 1);
  } else if (subkeys_.size() > kIndexFrom) {
    for (size_t i = 0; i < subkeys_.size(); ++i) subkeyIndex_.Insert(NameIndex::Hash(subkeys_[i]->name), i);
  }
  return subkeys_.back().get();
}

bool RegKey::Remove(std::wstring_view child) {
  const size_t at = FindSubkey(child);
  if (at == NameIndex::kNone) return false;
  std::unique_ptr<RegKey> removed = std::move(subkeys_[at]);
  const size_t last = subkeys_.size() - 1;
  if (subkeyIndex_.Built()) subkeyIndex_.Remove(NameIndex::Hash(removed->name), at);
  if (at != last) {
    subkeys_[at] = std::move(subkeys_[last]);
    if (subkeyIndex_.Built()) {
      const size_t hash = NameIndex::Hash(subkeys_[at]->name);
      subkeyIndex_.Remove(hash, last);
      subkeyIndex_.Insert(hash, at);
    }
  }
  subkeys_.pop_back();
  sortedValid_ = false;
  return true;
}

const RegKey* RegKey::SubkeyAt(size_t index) const {
  if (!sortedValid_) {
    sorted_.clear();
    sorted_.reserve(subkeys_.size());
    for (auto& child : subkeys_) sorted_.push_back(child.get());
    std::sort(sorted_.begin(), sorted_.end(), [](const RegKey* a, const RegKey* b) { return LessNoCase(a->name, b->name); });
    sortedValid_ = true;
  }
  return index < sorted_.size() ? sorted_[index] : nullptr;
}

size_t RegKey::FindValueAt(std::wstring_view valueName) const {
  if (valueIndex_.Built()) {
    return valueIndex_.Find(valueName, NameIndex::Hash(valueName), [this](size_t i) { return std::wstring_view(values_[i].name); });
  }
  for (size_t i = 0; i < values_.size(); ++i) {
    if (!removed_[i] && EqualNoCase(values_[i].name, valueName)) return i;
  }
  return NameIndex::kNone;
}

RegValue* RegKey::FindValue(std::wstring_view valueName) {
  size_t at = FindValueAt(valueName);
  return at == NameIndex::kNone ? nullptr : &values_[at];
}

void RegKey::SetValue(RegValue value) {
  if (RegValue* existing = FindValue(value.name)) {
    existing->type = value.type;
    existing->data = std::move(value.data);
    return;
  }
  values_.push_back(std::move(value));
  removed_.push_back(false);
  if (valueIndex_.Built()) {
    valueIndex_.Insert(NameIndex::Hash(values_.back().name), values_.size() - 1);
  } else if (ValueCount() > kIndexFrom) {
    for (size_t i = 0; i < values_.size(); ++i) {
      if (!removed_[i]) valueIndex_.Insert(NameIndex::Hash(values_[i].name), i);
    }
  }
}

bool RegKey::RemoveValue(std::wstring_view valueName) {
  const size_t at = FindValueAt(valueName);
  if (at == NameIndex::kNone) return false;
  if (valueIndex_.Built()) valueIndex_.Remove(NameIndex::Hash(values_[at].name), at);
  removed_[at] = true;
  ++removedValues_;
  values_[at].data = {};
  // The marked ones go once they are half: each removal costs O(1) on average.
  if (removedValues_ * 2 > values_.size()) CompactValues();
  return true;
}

void RegKey::CompactValues() const {
  if (removedValues_ == 0) return;
  size_t kept = 0;
  for (size_t i = 0; i < values_.size(); ++i) {
    if (removed_[i]) continue;
    if (kept != i) values_[kept] = std::move(values_[i]);
    ++kept;
  }
  values_.resize(kept);
  removed_.assign(kept, false);
  removedValues_ = 0;
  valueIndex_.Clear();
  if (kept > kIndexFrom) {
    for (size_t i = 0; i < kept; ++i) valueIndex_.Insert(NameIndex::Hash(values_[i].name), i);
  }
}

const RegValue* RegKey::ValueAt(size_t index) const {
  CompactValues();
  return index < values_.size() ? &values_[index] : nullptr;
}

void RegKey::Clear() {
  RegKey emptied;
  std::swap(subkeys_, emptied.subkeys_);  // destroyed with emptied, by its loop
  subkeyIndex_.Clear();
  sorted_.clear();
  sortedValid_ = true;
  values_.clear();
  removed_.clear();
  removedValues_ = 0;
  valueIndex_.Clear();
}

// ---- The file ----------------------------------------------------------------------

std::wstring HiveName(std::wstring_view name) {
  static constexpr std::wstring_view kHives[][2] = {
      {L"HKEY_CURRENT_USER", L"HKCU"}, {L"HKEY_LOCAL_MACHINE", L"HKLM"}, {L"HKEY_CLASSES_ROOT", L"HKCR"},
      {L"HKEY_USERS", L"HKU"},         {L"HKEY_CURRENT_CONFIG", L"HKCC"}};
  for (auto& [longName, shortName] : kHives) {
    if (EqualNoCase(name, longName) || EqualNoCase(name, shortName)) return std::wstring(longName);
  }
  return std::wstring(name);
}

std::vector<uint8_t> TextData(std::wstring_view text) {
  std::wstring units(text);
  units += L'\0';
  return Bytes(units);
}

bool ParseRegFile(const uint8_t* bytes, size_t size, RegKey& root) {
  // UTF-16LE after its byte-order mark, else UTF-8 (with or without one).
  // Each line is decoded on its own: a line ends at the unit or byte 0x0A,
  // which no other character contains.
  const bool utf16 = size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  size_t pos = utf16 ? 2 : size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
  const size_t unit = utf16 ? 2 : 1;
  auto lineEnd = [&](size_t from) {
    while (from < size) {
      const void* found = std::memchr(bytes + from, '\n', size - from);
      if (!found) return size;
      const size_t at = size_t(static_cast<const uint8_t*>(found) - bytes);
      if (!utf16 || ((at - pos) % 2 == 0 && at + 1 < size && bytes[at + 1] == 0)) return at;
      from = at + 1;
    }
    return size;
  };

  bool headerSeen = false;
  RegKey* key = nullptr;
  // One line; false ends the reading (not a registry file).
  auto handle = [&](std::wstring_view line) {
    if (line.empty() || line[0] == L';') return true;
    if (!headerSeen) {
      headerSeen = line == kHeader || line == L"REGEDIT4";
      return headerSeen;
    }
    if (line[0] == L'[' && line.back() == L']') return Section(line, root, &key);
    if (line[0] == L'"' || line[0] == L'@') ParseValue(line, key);
    return true;
  };
  // Lines with hex continuations (",\" at the end) joined.
  std::wstring text, joined;
  bool pending = false, empty = true;
  for (;;) {
    const size_t end = lineEnd(pos);
    text = utf16 ? FromUtf16Le(bytes + pos, end - pos)
                 : FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes) + pos, end - pos));
    empty = empty && text.empty() && end == size;
    std::wstring_view piece = Trim(text);
    if (piece.size() >= 2 && piece.ends_with(L",\\")) {
      if (!pending) joined.clear();
      joined += piece.substr(0, piece.size() - 1);
      pending = true;
    } else if (pending) {
      joined += piece;
      pending = false;
      if (!handle(joined)) return false;
    } else if (!handle(piece)) {
      return false;
    }
    if (end >= size) break;
    pos = end + unit;
  }
  if (pending && !handle(joined)) return false;
  return headerSeen || empty;
}

std::vector<uint8_t> FormatRegFile(const RegKey& root) {
  std::wstring text = std::wstring(kHeader) + L"\r\n\r\n";
  // Each key after its parent, subkeys in order: a walk with a stack of its
  // own. A hive gets a section of its own only when it holds values.
  struct Level {
    const RegKey* key;
    size_t next;        // the subkey to write next
    size_t pathLength;  // of the key's path in path
  };
  std::vector<Level> stack;
  std::wstring path;
  for (size_t h = 0; h < root.SubkeyCount(); ++h) {
    const RegKey* hive = root.SubkeyAt(h);
    path = hive->name;
    if (hive->ValueCount() > 0) WriteSection(*hive, path, text);
    stack.push_back({hive, 0, path.size()});
    while (!stack.empty()) {
      Level& level = stack.back();
      const RegKey* child = level.key->SubkeyAt(level.next);
      if (!child) {
        stack.pop_back();
        continue;
      }
      ++level.next;
      path.resize(level.pathLength);
      path += L'\\';
      path += child->name;
      WriteSection(*child, path, text);
      stack.push_back({child, 0, path.size()});
    }
  }
  std::vector<uint8_t> bytes{0xFF, 0xFE};
  auto body = ToUtf16Le(text);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

}  // namespace vw32::detail
