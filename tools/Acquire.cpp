#include "Acquire.h"

#include "AdaptorModule.h"
#include "CardPlug.h"
#include "FrameFiles.h"
#include "SimCard.h"
#include "SimulatedCard.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <sstream>

namespace tool {
namespace {

using imaqhost::AcquisitionEvent;

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

std::string shortest(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", value);
  return text;
}

// A bar on the terminal, redrawn in place; nothing when stdout is no terminal.
class Progress {
 public:
  explicit Progress(int total) : total_(total), shown_(isatty(STDOUT_FILENO) != 0) {}
  void update(unsigned long long done) {
    if (!shown_) return;
    const int width = 40;
    const int filled = total_ > 0 ? int(std::min<unsigned long long>(done, total_) * width / total_) : 0;
    std::printf("\r[%s%s] %llu/%d frames", std::string(filled, '#').c_str(),
                std::string(width - filled, '.').c_str(), done, total_);
    std::fflush(stdout);
    drawn_ = true;
  }
  // Ends the bar's line before other output.
  void clear() {
    if (!drawn_) return;
    std::printf("\n");
    drawn_ = false;
  }

 private:
  int total_;
  bool shown_;
  bool drawn_ = false;
};

struct Outcome {
  unsigned long long written = 0;
  int width = 0;  // of the last frame
  int height = 0;
  double firstStamp = 0.0;
  double lastStamp = 0.0;
  double longestGap = 0.0;  // between consecutive time stamps
  bool timedOut = false;
  std::string failure;  // why a frame could not be written, or empty
};

void count(Outcome& outcome, const imaqhost::EngineFrame& frame) {
  if (outcome.written == 0) outcome.firstStamp = frame.timeStamp();
  if (outcome.written > 0) outcome.longestGap = std::max(outcome.longestGap, frame.timeStamp() - outcome.lastStamp);
  ++outcome.written;
  outcome.lastStamp = frame.timeStamp();
  outcome.width = frame.width();
  outcome.height = frame.height();
}

// Takes frames as they come and writes them, until the acquisition has
// stopped and the queue is empty, a frame cannot be written, or no frame
// came for the timeout.
Outcome writeFrames(imaqhost::VideoInput& input, FrameFiles& files, Progress& progress, double timeout) {
  Outcome outcome;
  const auto wait = std::chrono::milliseconds(long(timeout * 1000));
  while (outcome.failure.empty()) {
    if (!input.waitForFrames(1, wait)) {
      if (input.isRunning()) outcome.timedOut = true;
      break;
    }
    for (const auto& frame : input.getData(1)) {
      try {
        files.write(*frame);
      } catch (const std::runtime_error& failure) {
        outcome.failure = "frame " + std::to_string(frame->number()) + " not written: " + failure.what();
        break;
      }
      count(outcome, *frame);
      progress.update(outcome.written);
    }
  }
  return outcome;
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
  return text.str();
}

// What the toolbox shows of an acquisition's error and warning events.
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

int acquire(imaqhost::VideoInput& input, const SimulatedCard& card, const AcquireOptions& options) {
  const std::string format = formatValue(options.format);
  input.set("Format", format);
  input.set("FramesPerTrigger", std::to_string(options.frames));
  input.setQueueCapacity(options.bufferFrames > 0 ? std::size_t(options.bufferFrames)
                                                  : std::size_t(std::min(options.frames, 256)));
  FrameFiles files(options.out);
  Progress progress(options.frames);
  std::cout << "Acquiring " << options.frames << " frames, \"Format\" \"" << format << "\", from the simulated card ("
            << card.describe() << ")\n";
  const double start = getCurrentTime();
  input.start();
  Outcome outcome;
  {
    CardPlug plug(card.simulator(), options.removeAt, options.insertAt, [&](const std::string& what) {
      progress.clear();
      std::cout << what << " at " << fixed(getCurrentTime() - start, 2) << " s\n";
    });
    outcome = writeFrames(input, files, progress, options.timeout);
  }
  input.stop();
  progress.clear();
  printEvents(input, start);
  const double seconds = getCurrentTime() - start;
  const std::string summary = summarize(input, card.simulator(), outcome, options, format, seconds);
  std::cout << summary;
  bool summaryWritten = true;
  try {
    files.writeSummary(summary);
  } catch (const std::runtime_error& failure) {
    std::cerr << "vantrel-imaq: " << failure.what() << "\n";
    summaryWritten = false;
  }
  const std::filesystem::path where = std::filesystem::absolute(files.folder()).lexically_normal();
  if (outcome.written > 0)
    std::cout << "Images are in " << where.string() << " (" << FrameFiles::imageName(1) << " to "
              << FrameFiles::imageName(outcome.written) << "), with frames.csv and summary.txt\n";
  return outcome.written == (unsigned long long)options.frames && !input.lastError() && summaryWritten ? 0 : 1;
}

int runAcquire(const ToolOptions& tool, const AcquireOptions& options) {
  const SimulatedCard card(tool.simulator);  // before the adaptor loads: its session opens the first card
  std::string error;
  const auto module = AdaptorModule::load(tool.adaptorPath, error);
  if (!module) {
    std::cerr << "vantrel-imaq: " << error << "\n";
    return 1;
  }
  try {
    // Released before the module, whose code its objects run.
    const auto input = imaqhost::VideoInput::create(module->entryPoints());
    return acquire(*input, card, options);
  } catch (const imaqhost::HostError& failure) {
    std::cerr << "Error " << failure.identifier() << ": " << failure.what() << "\n";
  } catch (const std::exception& failure) {
    std::cerr << "vantrel-imaq: " << failure.what() << "\n";
  }
  return 1;
}

// Bounds of the numeric options: a timeout or a time in the schedule above
// them is a typing error, and a buffer above its bound could take all the
// memory. Larger times would also overflow the clocks' tick counts.
constexpr double kLongestTimeout = 3600.0;
constexpr double kLongestSchedule = 86400.0;
constexpr int kLargestBuffer = 1024;

// Seconds from `least` to `most`. CLI11's own number checks let nan and inf
// through (every comparison with nan is false).
CLI::Validator seconds(double least, double most) {
  const std::string range = "from " + shortest(least) + " to " + shortest(most);
  return CLI::Validator(
      [least, most, range](const std::string& text) {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        const bool valid = end != text.c_str() && *end == '\0' && std::isfinite(value);
        if (valid && value >= least && value <= most) return std::string();
        return text + " is not a number of seconds " + range;
      },
      "SECONDS in [" + shortest(least) + " - " + shortest(most) + "]");
}

}  // namespace

std::string formatValue(const std::string& text) {
  if (lowered(text) == "rgb") return " RGB_24bit";
  if (lowered(text) == "ycrcb") return "YCrCb_20bit";
  return text;
}

void addAcquireCommand(CLI::App& app, const ToolOptions& options, int& exitCode) {
  CLI::App* command = app.add_subcommand("acquire", "Acquire frames from the first card and write them as images");
  auto settings = std::make_shared<AcquireOptions>();
  command->add_option("--format", settings->format,
                      "\" RGB_24bit\" (or rgb) or \"YCrCb_20bit\" (or ycrcb), the device's \"Format\"")
      ->capture_default_str();
  command->add_option("--frames", settings->frames, "Frames to acquire")->check(CLI::Range(1, 1000000))
      ->capture_default_str();
  command->add_option("--out", settings->out, "Folder for the images, frames.csv and summary.txt")
      ->capture_default_str();
  command->add_option("--remove-at", settings->removeAt, "Pull the first card this many seconds after the start")
      ->check(seconds(0.0, kLongestSchedule));
  command->add_option("--insert-at", settings->insertAt, "Put it back this many seconds after the start")
      ->check(seconds(0.0, kLongestSchedule))
      ->needs("--remove-at");
  command->add_option("--timeout", settings->timeout, "Longest wait for the next frame, in seconds")
      ->check(seconds(0.01, kLongestTimeout))
      ->capture_default_str();
  command->add_option("--buffer", settings->bufferFrames,
                      "Frames the engine keeps until they are written (default: --frames, at most 256; "
                      "a frame of 1920 x 1080 takes 6 MB); when full, the oldest is dropped")
      ->check(CLI::Range(1, kLargestBuffer));
  command->footer(
      "Examples:\n"
      "  vantrel-imaq acquire                                  30 frames of 1920x1080 (1080i25) as RGB\n"
      "  vantrel-imaq acquire --format ycrcb --frames 10 --out /tmp/yuv\n"
      "  vantrel-imaq acquire --format \" RGB_24bit\" --mode 720p60 --free-running\n"
      "  vantrel-imaq acquire --frames 100 --remove-at 1 --insert-at 2   ride out a pulled card\n"
      "The simulated card's options of 'vantrel-imaq --help' (--mode, --no-camera, --cards,\n"
      "--free-running) apply too.");
  command->callback([&options, &exitCode, settings] {
    if (settings->insertAt >= 0 && settings->insertAt <= settings->removeAt) {
      std::cerr << "vantrel-imaq: --insert-at must come after --remove-at\n";
      exitCode = 2;
      return;
    }
    exitCode = runAcquire(options, *settings);
  });
}

}  // namespace tool
