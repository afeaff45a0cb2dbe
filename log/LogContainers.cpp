#include "LogContainers.h"

namespace {
constexpr size_t kInitialBuckets = 151;
}

CHashtable::CHashtable() : buckets_(nullptr), bucketCount_(kInitialBuckets), count_(0), loadFactor_(0.75f) {
  // A table whose bucket array cannot be allocated stays empty: every insert
  // then fails and every look-up finds nothing.
  buckets_ = new (std::nothrow) Entry*[bucketCount_]();
}

CHashtable::~CHashtable() {
  ClearValues(nullptr);
  delete[] buckets_;
}

CHashtable::Entry* CHashtable::Find(DWORD key) const {
  if (!buckets_) return nullptr;
  for (Entry* entry = buckets_[BucketOf(key, bucketCount_)]; entry; entry = entry->next) {
    if (entry->key == key) return entry;
  }
  return nullptr;
}

void* CHashtable::GetValue(DWORD key) const {
  Entry* entry = Find(key);
  return entry ? entry->value : nullptr;
}

void CHashtable::Grow() {
  size_t bucketCount = bucketCount_ * 2 + 1;
  Entry** buckets = new (std::nothrow) Entry*[bucketCount]();
  if (!buckets) return;  // keeps working with longer chains
  for (size_t i = 0; i < bucketCount_; ++i) {
    while (Entry* entry = buckets_[i]) {
      buckets_[i] = entry->next;
      size_t bucket = BucketOf(entry->key, bucketCount);
      entry->next = buckets[bucket];
      buckets[bucket] = entry;
    }
  }
  delete[] buckets_;
  buckets_ = buckets;
  bucketCount_ = bucketCount;
}

bool CHashtable::PutValue(DWORD key, void* value, void** old) {
  *old = nullptr;
  if (!buckets_) return false;
  if (Entry* entry = Find(key)) {
    *old = entry->value;
    entry->value = value;
    return true;
  }
  if (count_ >= size_t(float(bucketCount_) * loadFactor_)) Grow();
  Entry* entry = new (std::nothrow) Entry{key, value, nullptr};
  if (!entry) return false;
  size_t bucket = BucketOf(key, bucketCount_);
  entry->next = buckets_[bucket];
  buckets_[bucket] = entry;
  ++count_;
  return true;
}

void* CHashtable::RemoveValue(DWORD key) {
  if (!buckets_) return nullptr;
  for (Entry** link = &buckets_[BucketOf(key, bucketCount_)]; *link; link = &(*link)->next) {
    Entry* entry = *link;
    if (entry->key != key) continue;
    *link = entry->next;
    void* value = entry->value;
    delete entry;
    --count_;
    return value;
  }
  return nullptr;
}

void CHashtable::ClearValues(void (*visit)(void* value)) {
  if (!buckets_) return;
  for (size_t i = 0; i < bucketCount_; ++i) {
    while (Entry* entry = buckets_[i]) {
      buckets_[i] = entry->next;
      if (visit) visit(entry->value);
      delete entry;
    }
  }
  count_ = 0;
}
