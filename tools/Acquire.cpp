#include "Acquire.h"

#include "AcquireReport.h"
#include "AdaptorModule.h"
#include "CardPlug.h"
#include "FrameFiles.h"
#include "FrameWriter.h"
#include "SimCard.h"
#include "SignalWatch.h"
#include "SimulatedCard.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <map>

namespace tool {
namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

std::string shortest(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", value);
  return text;
}

// The wait for the next frame is cut into slices this long, so that a stop
// signal is seen soon.
constexpr std::chrono::milliseconds kSlice{50};

// Takes frames from the engine as they come and hands them to the writer,
// until the acquisition has stopped and the engine's queue is empty, a frame
// could not be written, a stop signal came, or no frame came for the
// timeout. Nothing here waits for the writing: a writer that falls behind
// costs frames of its own queue, counted, not frames of the engine's.
Outcome takeFrames(imaqhost::VideoInput& input, FrameWriter& writer, double timeout, const SignalWatch& signals) {
  Outcome outcome;
  const std::chrono::duration<double> longest(timeout);
  auto since = std::chrono::steady_clock::now();
  while (!writer.failed() && !outcome.timedOut && (outcome.signal = signals.received()) == 0) {
    if (!input.waitForFrames(1, kSlice)) {
      if (!input.isRunning()) break;
      outcome.timedOut = std::chrono::steady_clock::now() - since >= longest;
      continue;
    }
    for (auto& frame : input.getData(std::max<std::size_t>(1, input.framesAvailable()))) {
      outcome.add(*frame);
      writer.push(std::move(frame));
    }
    since = std::chrono::steady_clock::now();
  }
  return outcome;
}

// Lets the writer write what waits, unless a stop signal comes first or a
// frame could not be written: then it ends after the frame being written.
void finishWriting(FrameWriter& writer, Outcome& outcome, const SignalWatch& signals) {
  if (outcome.signal != 0) writer.stop();
  writer.finish([&] { return (outcome.signal = signals.received()) != 0; }, kSlice);
  outcome.writer = writer.counts();
}

// The summary on stdout and in summary.txt: false when the file could not
// be written (the reason on stderr).
bool showSummary(const FrameFiles& files, const std::string& summary) {
  std::cout << summary;
  try {
    files.writeSummary(summary);
    return true;
  } catch (const std::runtime_error& failure) {
    std::cerr << "vantrel-imaq: " << failure.what() << "\n";
    return false;
  }
}

void configure(imaqhost::VideoInput& input, const AcquireOptions& options, const std::string& format) {
  input.set("Format", format);
  input.set("FramesPerTrigger", std::to_string(options.frames));
  input.setQueueCapacity(engineQueueFrames(options));
}

// Where the files are, as the last line of the output.
void showWhere(const FrameFiles& files, const Outcome& outcome) {
  const std::filesystem::path where = std::filesystem::absolute(files.folder()).lexically_normal();
  if (files.kind() == ImageKind::None)
    std::cout << "No images (--images none); frames.csv and summary.txt are in " << where.string() << "\n";
  else if (outcome.writer.written > 0)
    std::cout << "Images are in " << where.string() << " ("
              << files.imageName(outcome.writer.firstWritten, outcome.frameType) << " to "
              << files.imageName(outcome.writer.lastWritten, outcome.frameType)
              << "), with frames.csv and summary.txt\n";
}

int acquire(imaqhost::VideoInput& input, const SimulatedCard& card, const AcquireOptions& options,
            const SignalWatch& signals) {
  const std::string format = formatValue(options.format);
  configure(input, options, format);
  FrameFiles files(options.out, options.images);
  Progress progress(options.frames);
  // Flushed, so that a pipe shows it when the acquisition starts.
  std::cout << "Acquiring " << options.frames << " frames, \"Format\" \"" << format << "\", from the simulated card ("
            << card.describe() << ")" << std::endl;
  FrameWriter writer(
      writerQueueFrames(options), [&](const imaqhost::EngineFrame& frame) { files.write(frame); },
      [&](unsigned long long written) { progress.update(written); });
  const vsim::Counters cardBefore = card.simulator().GetCounters();
  const double start = getCurrentTime();
  input.start();
  Outcome outcome;
  {
    CardPlug plug(card.simulator(), options.removeAt, options.insertAt, [&](const std::string& what) {
      progress.clear();
      std::cout << what << " at " << fixed(getCurrentTime() - start, 2) << " s\n";
    });
    outcome = takeFrames(input, writer, options.timeout, signals);
  }
  input.stop();
  const double seconds = getCurrentTime() - start;
  finishWriting(writer, outcome, signals);
  progress.clear();
  printEvents(input, start);
  const CardCounts cardCounts = CardCounts::between(cardBefore, card.simulator().GetCounters());
  const std::string summary = summarize(input, cardCounts, outcome, options, format, seconds);
  const bool summaryWritten = showSummary(files, summary);
  showWhere(files, outcome);
  if (outcome.signal != 0) return 128 + outcome.signal;  // as a shell shows a command a signal ended
  return outcome.writer.written == (unsigned long long)options.frames && !input.lastError() && summaryWritten ? 0 : 1;
}

int runAcquire(const ToolOptions& tool, const AcquireOptions& options) {
  // Before the card's, the engine's and the adaptor's threads start; until
  // the module is unloaded and the card stopped, so that a first signal
  // still lets both end normally (the card released, the log closed).
  const SignalWatch signals;
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
    return acquire(*input, card, options, signals);
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

std::map<std::string, ImageKind> imageKinds() {
  return {{"png", ImageKind::Png}, {"raw", ImageKind::Raw}, {"none", ImageKind::None}};
}

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

// Either queue, by default: as many frames as asked for, at most 256 (1.5 GB of 1920 x 1080 frames).
std::size_t engineQueueFrames(const AcquireOptions& options) {
  return options.bufferFrames > 0 ? std::size_t(options.bufferFrames) : std::size_t(std::min(options.frames, 256));
}

std::size_t writerQueueFrames(const AcquireOptions& options) {
  return options.writeQueue > 0 ? std::size_t(options.writeQueue) : std::size_t(std::min(options.frames, 256));
}

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
                      "Frames the engine keeps until the tool takes them (default: --frames, at most 256; "
                      "a frame of 1920 x 1080 takes 6 MB); when full, the oldest is dropped")
      ->check(CLI::Range(1, kLargestBuffer));
  command
      ->add_option_function<std::string>(
          "--images", [settings](const std::string& kind) { settings->images = imageKinds().at(lowered(kind)); },
          "png: PNG images (fast compression; YCrCb frames also as YUYV bytes, .yuv); raw: the "
          "frame's bytes as delivered (.bgr or .yuv); none: frames.csv alone")
      ->check(CLI::IsMember({"png", "raw", "none"}, CLI::ignore_case))
      ->default_str("png");
  command->add_option("--write-queue", settings->writeQueue,
                      "Frames waiting for the writer thread (default: --frames, at most 256; a frame of "
                      "1920 x 1080 takes 6 MB); a frame that finds it full is not written, and counted")
      ->check(CLI::Range(1, kLargestBuffer));
  command->footer(
      "Examples:\n"
      "  vantrel-imaq acquire                                  30 frames of 1920x1080 (1080i25) as RGB\n"
      "  vantrel-imaq acquire --format ycrcb --frames 10 --out /tmp/yuv\n"
      "  vantrel-imaq acquire --format \" RGB_24bit\" --mode 720p60 --free-running\n"
      "  vantrel-imaq acquire --frames 100 --remove-at 1 --insert-at 2   ride out a pulled card\n"
      "  vantrel-imaq --mode 1080p60 acquire --frames 600 --images raw   10 s of 1080p60 as raw files\n"
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
