// The registry as a tree of keys, and its text form: the .reg format that
// regedit exports (UTF-16LE with byte-order mark, CR LF line ends).
//
// Every operation is linear in what it reads or writes, whatever the file
// holds: a key's subkeys and values are found through hash indexes (names
// compared without letter case), a removal costs no more than an addition,
// the sorted order of subkeys is built once when it is asked for, and
// nothing recurses over the depth of the tree (walking, writing and
// destroying use loops), so a hostile file can neither exhaust the stack nor
// make a load quadratic.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vw32::detail {

// Windows keeps at most 512 levels of keys below a hive. A file naming a
// deeper key is not read at all (ParseRegFile fails), and no call creates one.
constexpr size_t kMaxKeyDepth = 512;

struct RegValue {
  std::wstring name;  // empty: the key's default value
  DWORD type;
  std::vector<uint8_t> data;  // as the calls hand it out: texts in WCHAR units
};

// An index of names compared without letter case: open addressing in one
// array of (hash, id) slots, so that finding a name costs one probe or two.
// The caller hands out ids and tells the name of an id.
class NameIndex {
 public:
  static constexpr size_t kNone = ~size_t(0);
  static size_t Hash(std::wstring_view name);
  // The id whose name equals name, or kNone.
  template <class NameOf>
  size_t Find(std::wstring_view name, size_t hash, const NameOf& nameOf) const;
  void Insert(size_t hash, size_t id);  // a name not in the index
  void Remove(size_t hash, size_t id);
  void Clear();  // and gives back its memory: Built() is false again
  bool Built() const { return !slots_.empty(); }

 private:
  static constexpr size_t kEmpty = ~size_t(0), kRemoved = ~size_t(0) - 1;
  struct Slot {
    size_t hash;
    size_t id;  // kEmpty or kRemoved when no id is there
  };
  void Resize(size_t slots);
  std::vector<Slot> slots_;  // a power of two long
  size_t live_ = 0, used_ = 0;  // used_: live and removed slots
};

class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(std::wstring_view name) : name(name) {}
  RegKey(RegKey&&) = default;
  RegKey& operator=(RegKey&&) = default;
  ~RegKey();  // a loop, however deep the tree below

  std::wstring name;

  // Subkeys, found without letter case, listed in order without letter case.
  RegKey* Find(std::wstring_view child) const;
  RegKey* Add(std::wstring_view child);  // the existing one if there is one
  bool Remove(std::wstring_view child);
  size_t SubkeyCount() const { return subkeys_.size(); }
  const RegKey* SubkeyAt(size_t index) const;  // nullptr past the end

  // Values, found without letter case, listed in order of creation.
  RegValue* FindValue(std::wstring_view valueName);
  void SetValue(RegValue value);
  bool RemoveValue(std::wstring_view valueName);
  size_t ValueCount() const { return values_.size() - removedValues_; }
  const RegValue* ValueAt(size_t index) const;  // nullptr past the end

  void Clear();  // every value and subkey

 private:
  // Few entries are searched in turn; more get an index.
  static constexpr size_t kIndexFrom = 8;
  size_t FindSubkey(std::wstring_view child) const;  // position in subkeys_, or NameIndex::kNone
  size_t FindValueAt(std::wstring_view valueName) const;
  void CompactValues() const;

  // Subkeys in no order: one that leaves takes the place of the last. The
  // index maps names to places.
  std::vector<std::unique_ptr<RegKey>> subkeys_;
  NameIndex subkeyIndex_;
  mutable std::vector<const RegKey*> sorted_;  // built when first asked for after a change
  mutable bool sortedValid_ = true;
  // Values in order of creation; a removed one stays, marked, until the
  // marked ones are many or the values are listed.
  mutable std::vector<RegValue> values_;
  mutable std::vector<bool> removed_;
  mutable size_t removedValues_ = 0;
  mutable NameIndex valueIndex_;  // names to places in values_
};

// The full name of a hive ("HKEY_CURRENT_USER" for "HKCU"), or the name unchanged.
std::wstring HiveName(std::wstring_view name);

// Reads the text of a .reg file into root (whose subkeys are the hives);
// false when the bytes are not a registry file this layer can hold: no
// header, or a key deeper than kMaxKeyDepth. Linear in the size of bytes.
bool ParseRegFile(const uint8_t* bytes, size_t size, RegKey& root);
std::vector<uint8_t> FormatRegFile(const RegKey& root);

// Value data for a text in the calls' form (WCHAR units and a terminator).
std::vector<uint8_t> TextData(std::wstring_view text);

}  // namespace vw32::detail
