// Trace channels: VW32_TRACE names the channels to print to stderr (io,
// sync, reg, card, or all), read once. A channel that is off costs one
// relaxed atomic load and a bit test; nothing is formatted.
#pragma once

#include <atomic>
#include <string>

#include <windows.h>

namespace vw32::detail {

enum class Channel : unsigned { Io, Sync, Reg, Card };

// Bit of each channel; kTraceUnread until VW32_TRACE has been read.
constexpr unsigned kTraceUnread = 1u << 31;
extern std::atomic<unsigned> g_traceChannels;
unsigned ReadTraceChannels();

inline bool TraceOn(Channel channel) {
  unsigned channels = g_traceChannels.load(std::memory_order_relaxed);
  if (channels & kTraceUnread) channels = ReadTraceChannels();
  return channels & (1u << unsigned(channel));
}

// One line "vw32:<thread id>:<channel>: <text>" on stderr, in one write.
void TraceLine(Channel channel, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A wide text (path, key or value name) for a trace line.
std::string TraceText(const wchar_t* text);

}  // namespace vw32::detail

#define VW32_TRACE(channel, ...)                                                              \
  do {                                                                                        \
    if (::vw32::detail::TraceOn(channel)) ::vw32::detail::TraceLine(channel, __VA_ARGS__); \
  } while (0)
