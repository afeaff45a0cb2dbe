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
  const int width = 40;
  const int filled = total_ > 0 ? int(std::min<unsigned long long>(done, total_) * width / total_) : 0;
  std::printf("\r[%s%s] %llu/%d frames", std::string(filled, '#').c_str(),
              std::string(width - filled, '.').c_str(), done, total_);
  std::fflush(stdout);
  drawn_ = true;
}

void Progress::clear() {
  if (!drawn_) return;
  std::printf("\n");
  drawn_ = false;
}

void Outcome::add(const imaqhost::EngineFrame& frame) {
  if (written == 0) firstStamp = frame.timeStamp();
  if (written > 0) longestGap = std::max(longestGap, frame.timeStamp() - lastStamp);
  ++written;
  lastStamp = frame.timeStamp();
  width = frame.width();
  height = frame.height();
}

std::string summarize(const imaqhost::VideoInput& input, const vsim::Simulator& simulator, const Outcome& outcome,
                      const AcquireOptions& options, const std::string& format, double seconds) {
  std::ostringstream text;
  const imaqhost::DeliveryTiming timing = input.timing();
  unsigned lost = 0;
  for (const AcquisitionEvent& event : input.events()) lost += event.kind == AcquisitionEvent::Kind::Warning;
  text << "Frames acquired:      " << outcome.written << " of " << options.frames << " (\"Format\" \"" << format
       << "\"" << (outcome.written > 0 ? ", " + std::to_string(outcome.width) + " x " + std::to_string(outcome.height) : "")
       << ")\n";
  text << "Frames dropped:       " << input.framesDropped() << " by the engine (queue full), "
       << simulator.GetCounters().framesDropped << " by the card (no free DMA buffer)\n";
  text << "Frames lost:          " << lost << " (reported by the adaptor: DMA errors, skipped frames)\n";
  text << "Acquisition time:     " << fixed(seconds, 2) << " s from start to stop\n";
  if (outcome.written > 1)
    text << "Effective frame rate: "
         << fixed(double(outcome.written - 1) / (outcome.lastStamp - outcome.firstStamp), 2)
         << " frames/s (between the first and last time stamps); longest gap "
         << fixed(1000.0 * outcome.longestGap, 1) << " ms\n";
  if (timing.frames > 0)
    text << "Decode time:          " << fixed(1000.0 * timing.toMakeFrameSeconds / double(timing.frames), 2)
         << " ms per frame (engine clock, from the adaptor's wantsFrame query to its makeFrame call:\n"
         << "                      stride query, buffer and ORNSDI_Decode; "
         << fixed(1000.0 * timing.toDeliverSeconds / double(timing.frames), 2)
         << " ms up to deliverFrame, copy into the engine frame included)\n";
  if (outcome.timedOut) text << "Stopped:              no frame came for " << fixed(options.timeout, 1) << " s\n";
  if (!outcome.failure.empty()) text << "Stopped:              " << outcome.failure << "\n";
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
