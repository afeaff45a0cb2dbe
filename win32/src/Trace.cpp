#include "Trace.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <vwin32.h>

#include "Text.h"

namespace vw32::detail {

namespace {

constexpr const char* kChannelNames[] = {"io", "sync", "reg", "card"};
constexpr unsigned kChannelCount = sizeof kChannelNames / sizeof kChannelNames[0];

// A channel's bit, 0 for a name that is none.
unsigned ChannelBit(std::string_view name) {
  if (name == "all") return (1u << kChannelCount) - 1;
  for (unsigned i = 0; i < kChannelCount; ++i) {
    if (name == kChannelNames[i]) return 1u << i;
  }
  return 0;
}

// "io,sync" (commas or spaces between names); unknown names are passed over.
unsigned ParseChannels(const char* text) {
  unsigned channels = 0;
  std::string_view rest = text ? text : "";
  while (!rest.empty()) {
    const size_t end = rest.find_first_of(", ");
    channels |= ChannelBit(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return channels;
}

}  // namespace

constinit std::atomic<unsigned> g_traceChannels{kTraceUnread};

// Threads that race here read the same variable and store the same value.
unsigned ReadTraceChannels() {
  const unsigned channels = ParseChannels(std::getenv("VW32_TRACE"));
  g_traceChannels.store(channels, std::memory_order_relaxed);
  return channels;
}

namespace {
void VTraceLine(const char* channel, const char* format, va_list args) {
  char line[1024];
  int used = std::snprintf(line, sizeof line, "vw32:%04lx:%s: ", static_cast<unsigned long>(GetCurrentThreadId()),
                           channel);
  if (used < 0) return;
  const int room = int(sizeof line) - used - 1;  // keeps a place for the line end
  const int text = std::vsnprintf(line + used, size_t(room) + 1, format, args);
  used += text < 0 ? 0 : std::min(text, room);  // a longer text is cut
  line[used++] = '\n';
  // One write per line, so lines of several threads and processes do not mix.
  (void)!write(STDERR_FILENO, line, size_t(used));
}
}  // namespace

void TraceLine(Channel channel, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VTraceLine(kChannelNames[unsigned(channel)], format, args);
  va_end(args);
}

std::string TraceText(const wchar_t* text) { return text ? ToUtf8(text) : std::string("(null)"); }

}  // namespace vw32::detail

using namespace vw32::detail;

extern "C" {

VW32_EXT bool VW32_TraceOn(const char* channel) {
  const unsigned bit = channel ? ChannelBit(channel) : 0;
  if (!bit || bit == (1u << kChannelCount) - 1) return false;  // "all" is no channel
  unsigned channels = g_traceChannels.load(std::memory_order_relaxed);
  if (channels & kTraceUnread) channels = ReadTraceChannels();
  return channels & bit;
}

VW32_EXT void VW32_Trace(const char* channel, const char* format, ...) {
  if (!VW32_TraceOn(channel) || !format) return;
  va_list args;
  va_start(args, format);
  VTraceLine(channel, format, args);
  va_end(args);
}

}  // extern "C"
