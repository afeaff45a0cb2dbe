// The caller's memory, checked before a call acts on it: Windows answers a
// pointer it cannot read with an error where touching it here would crash.
#pragma once

#include <cstddef>

namespace vw32::detail {

// Whether every byte of [data, data + size) can be read.
bool Readable(const void* data, size_t size);

}  // namespace vw32::detail
