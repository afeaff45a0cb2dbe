// The logging library's own containers: a chained hash table from a 32-bit
// key to a pointer, and growing arrays of pointers or of 32-bit values. The
// untyped bases hold the mechanism; the T templates only cast.
#pragma once

#include <windows.h>

#include <cstddef>
#include <new>

// Chained hash table from a 32-bit key to an untyped pointer. Starts with 151
// buckets; a new key that finds the table at three quarters of its buckets
// first grows it to twice the buckets plus one (151, 303, 607, ...).
class CHashtable {
 public:
  CHashtable();
  virtual ~CHashtable();
  CHashtable(const CHashtable&) = delete;
  CHashtable& operator=(const CHashtable&) = delete;

  size_t BucketCount() const { return bucketCount_; }
  size_t Count() const { return count_; }

 protected:
  void* GetValue(DWORD key) const;
  // Inserts or replaces; *old receives the replaced value (or nullptr).
  // Returns false when the entry cannot be allocated.
  bool PutValue(DWORD key, void* value, void** old);
  void* RemoveValue(DWORD key);
  // Calls visit for every value, then removes every entry; the bucket array
  // stays in place.
  void ClearValues(void (*visit)(void* value));

 private:
  struct Entry {
    DWORD key;
    void* value;
    Entry* next;
  };
  static size_t BucketOf(DWORD key, size_t bucketCount) { return (key & 0x7FFFFFFFu) % bucketCount; }
  Entry* Find(DWORD key) const;
  void Grow();

  Entry** buckets_;
  size_t bucketCount_;
  size_t count_;
  float loadFactor_;
};

// The table typed: values are T*. The table does not own its values unless
// told to delete them with DeleteAll.
template <class T>
class THashtable : public CHashtable {
 public:
  T* Get(DWORD key) const { return static_cast<T*>(GetValue(key)); }
  bool Put(DWORD key, T* value, T** old = nullptr) {
    void* replaced = nullptr;
    bool stored = PutValue(key, value, &replaced);
    if (old) *old = static_cast<T*>(replaced);
    return stored;
  }
  T* Remove(DWORD key) { return static_cast<T*>(RemoveValue(key)); }
  void Clear() { ClearValues(nullptr); }
  void DeleteAll() { ClearValues(&DeleteValue); }

 private:
  static void DeleteValue(void* value) { delete static_cast<T*>(value); }
};

// An ordered array that starts with a capacity of 16, allocated on the first
// append, and grows by half its capacity, truncated (16, 24, 36, 54, ...),
// with the new slots zeroed. LastIndex is -1 when empty.
template <class Item>
class GrowingArray {
 public:
  GrowingArray() = default;
  ~GrowingArray() { delete[] items_; }
  GrowingArray(const GrowingArray&) = delete;
  GrowingArray& operator=(const GrowingArray&) = delete;

  // Returns false when the storage cannot be allocated; the item is not added.
  bool Append(Item item) {
    if ((!items_ || Count() == capacity_) && !Reserve()) return false;
    items_[++lastIndex_] = item;
    return true;
  }
  Item At(int index) const { return items_[index]; }
  int LastIndex() const { return lastIndex_; }
  size_t Count() const { return size_t(lastIndex_ + 1); }
  size_t Capacity() const { return capacity_; }
  // Forgets the items; the storage stays.
  void Clear() { lastIndex_ = -1; }

 private:
  // First append: the initial storage; a full array: a larger copy.
  bool Reserve() {
    size_t capacity = items_ ? capacity_ + size_t(double(capacity_) * growthFactor_) : capacity_;
    Item* items = new (std::nothrow) Item[capacity]();
    if (!items) return false;
    for (int i = 0; i <= lastIndex_; ++i) items[i] = items_[i];
    delete[] items_;
    items_ = items;
    capacity_ = capacity;
    return true;
  }

  Item* items_ = nullptr;
  size_t capacity_ = 16;
  double growthFactor_ = 0.5;
  int lastIndex_ = -1;
};

// Vector of untyped pointers.
class OVector : public GrowingArray<void*> {};

// Vector of 32-bit values.
class UVector : public GrowingArray<DWORD> {};

// Vector of T*. The vector does not own its items unless told to delete them
// with DeleteAll.
template <class T>
class TVector : public OVector {
 public:
  bool Append(T* item) { return OVector::Append(item); }
  T* At(int index) const { return static_cast<T*>(OVector::At(index)); }
  void DeleteAll() {
    for (int i = 0; i <= LastIndex(); ++i) delete At(i);
    Clear();
  }
};
