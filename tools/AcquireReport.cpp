#include "AcquireReport.h"

#include "SignalWatch.h"
#include "SimCard.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

namespace tool {

using imaqhost::AcquisitionEvent;

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

Progress::Progress(int total) : total_(total), shown_(isatty(STDOUT_FILENO) != 0) {}

void Progress::update(unsigned long long done) {
  if (!shown_) return;
  std::lock_guard<std::mutex> hold(lock_);
  const int width = 40;
  const int filled = total_ > 0 ? int(std::min<unsigned long long>(done, total_) * width / total_) : 0;
  std::printf("\r[%s%s] %llu/%d frames", std::string(filled, '#').c_str(),
              std::string(width - filled, '.').c_str(), done, total_);
  std::fflush(stdout);
  drawn_ = true;
}

void Progress::clear() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!drawn_) return;
  std::printf("\n");
  drawn_ = false;
}

void Outcome::add(const imaqhost::EngineFrame& frame) {
  if (taken == 0) firstStamp = frame.timeStamp();
  if (taken > 0) longestGap = std::max(longestGap, frame.timeStamp() - lastStamp);
  ++taken;
  lastStamp = frame.timeStamp();
  width = frame.width();
  height = frame.height();
  frameType = frame.frameType();
}

CardCounts CardCounts::between(const vsim::Counters& before, const vsim::Counters& after) {
  return {after.framesCaptured - before.framesCaptured, after.framesDropped - before.framesDropped,
          after.framesDelivered - before.framesDelivered, after.dmaErrors - before.dmaErrors};
}

namespace {

std::string framesText(std::size_t frames) { return std::to_string(frames) + (frames == 1 ? " frame" : " frames"); }

// What is written of each frame.
std::string filesOfAFrame(ImageKind images) {
  return images == ImageKind::None ? "CSV line only" : std::string(imageKindName(images)) + " images, CSV line";
}

// One count of the frame accounting: the count, what it is, its source.
void count(std::ostringstream& text, const char* what, unsigned long long frames, const std::string& source) {
  char line[64];
  std::snprintf(line, sizeof(line), "  %-26s%6llu", what, frames);
  text << line << "  (" << source << ")\n";
}

// The frames a step did not pass on that the tool can tell of no other way:
// shown only when there are some.
void gap(std::ostringstream& text, const char* what, unsigned long long from, unsigned long long to,
         const std::string& why) {
  if (from > to) count(text, what, from - to, why);
}

// Each frame from the card to the files, with the source of each count.
void accountFrames(std::ostringstream& text, const imaqhost::VideoInput& input, const CardCounts& card,
                   const Outcome& outcome, const AcquireOptions& options, unsigned lost) {
  const unsigned long long callbacks = input.manager().framesCounted();
  const unsigned long long received = input.framesAcquired();
  const unsigned long long dropped = input.framesDropped();
  const WriterCounts& writer = outcome.writer;
  text << "Frames, from the card to the files:\n";
  count(text, "captured by the card:", card.captured, "the simulated card's count, start to stop");
  count(text, "dropped by the card:", card.dropped, "the simulated card's count: no free DMA buffer");
  count(text, "delivered by the driver:", card.delivered,
        "the simulated driver's count: lock requests completed with a frame, " + std::to_string(card.dmaErrors) +
            " of them with a DMA error");
  gap(text, "not delivered:", card.captured - card.dropped, card.delivered,
      "in the card's buffers when the grab stopped or the card was pulled");
  count(text, "delivered by the library:", callbacks,
        "the engine's count of the adaptor's frame callbacks, countFrame");
  gap(text, "not handed on:", card.delivered, callbacks, "completed as the grab thread ended");
  count(text, "received by the engine:", received, "the adaptor's deliverFrame calls");
  gap(text, "not passed on by adaptor:", callbacks, received,
      std::to_string(lost) + " reported lost by the adaptor, DMA errors; the others came after the last frame "
      "asked for, or while capture was stopping");
  count(text, "dropped by the engine:", dropped,
        "the engine's count: its queue of " + framesText(engineQueueFrames(options)) + ", --buffer, was full");
  count(text, "taken from the engine:", outcome.taken, "by this tool, as they arrived");
  gap(text, "left in the engine:", received - std::min(received, dropped), outcome.taken,
      "not taken when the acquisition ended early");
  count(text, "not written, queue full:", writer.overflow,
        "the writer's queue of " + framesText(writerQueueFrames(options)) + ", --write-queue, was full");
  count(text, "not written, stopped:", writer.left, "waiting when the writing stopped early");
  count(text, "written:", writer.written,
        "the writer's count: " + filesOfAFrame(options.images));
}

// The times per delivered frame the engine measured, and the writer's.
void times(std::ostringstream& text, const imaqhost::DeliveryTiming& timing, const Outcome& outcome,
           const AcquireOptions& options) {
  const double frames = double(timing.frames);
  const double decode = timing.toMakeFrameSeconds / frames;
  const double making = timing.makingFrameSeconds / frames;
  text << "Decode time:          " << fixed(1000.0 * decode, 2)
       << " ms per frame, the adaptor's work on the grab thread (engine clock, from its wantsFrame\n"
       << "                      query to its makeFrame call: stride query, buffer and ORNSDI_Decode)\n";
  text << "Engine frame time:    " << fixed(1000.0 * making, 2)
       << " ms per frame in the stand-in engine's makeFrame (frame memory); "
       << fixed(1000.0 * (timing.toDeliverSeconds / frames - decode - making), 2)
       << " ms from there\n                      to deliverFrame (copyImage into the engine frame, time stamp)\n";
  if (outcome.writer.written > 0)
    text << "Write time:           " << fixed(1000.0 * outcome.writer.writeSeconds / double(outcome.writer.written), 2)
         << " ms per frame written, on the writer thread (" << filesOfAFrame(options.images) << ")\n";
}

}  // namespace

std::string summarize(const imaqhost::VideoInput& input, const CardCounts& card, const Outcome& outcome,
                      const AcquireOptions& options, const std::string& format, double seconds) {
  std::ostringstream text;
  unsigned lost = 0;
  for (const AcquisitionEvent& event : input.events()) lost += event.kind == AcquisitionEvent::Kind::Warning;
  text << "Frames written:       " << outcome.writer.written << " of " << options.frames << " (\"Format\" \"" << format
       << "\"" << (outcome.taken > 0 ? ", " + std::to_string(outcome.width) + " x " + std::to_string(outcome.height) : "")
       << ", --images " << imageKindName(options.images) << ")\n";
  accountFrames(text, input, card, outcome, options, lost);
  text << "Acquisition time:     " << fixed(seconds, 2) << " s from start to stop\n";
  if (outcome.taken > 1)
    text << "Effective frame rate: "
         << fixed(double(outcome.taken - 1) / (outcome.lastStamp - outcome.firstStamp), 2)
         << " frames/s (between the first and last time stamps); longest gap "
         << fixed(1000.0 * outcome.longestGap, 1) << " ms\n";
  const imaqhost::DeliveryTiming timing = input.timing();
  if (timing.frames > 0) times(text, timing, outcome, options);
  if (outcome.timedOut) text << "Stopped:              no frame came for " << fixed(options.timeout, 1) << " s\n";
  if (!outcome.writer.failure.empty()) text << "Stopped:              " << outcome.writer.failure << "\n";
  if (outcome.signal != 0) text << "Stopped:              interrupted (" << SignalWatch::name(outcome.signal) << ")\n";
  return text.str();
}

void printEvents(const imaqhost::VideoInput& input, double start) {
  for (const AcquisitionEvent& event : input.events()) {
    if (event.kind == AcquisitionEvent::Kind::Error)
      std::cerr << "Error event occurred at " << fixed(event.time - start, 2)
                << " s for video input object: " << event.message << " (" << event.identifier << ")\n";
    if (event.kind == AcquisitionEvent::Kind::Warning)
      std::cerr << "Warning at " << fixed(event.time - start, 2) << " s: " << event.message << " ("
                << event.identifier << ")\n";
  }
}

}  // namespace tool
