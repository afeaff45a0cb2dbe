// vantrel-imaq as a user runs it: its output, its errors and exit codes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <png.h>

#include <cstdint>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SimCard.h"

namespace {

using namespace ::testing;

struct ToolRun {
  std::string output;  // stdout, or stderr when asked for
  int exitCode;
};

// Runs the tool with arguments and takes one of its streams.
ToolRun runTool(const std::string& arguments, bool takeStderr = false, const std::string& environment = "") {
  const std::string command = environment + " " VANTREL_IMAQ_PATH " " + arguments +
                              (takeStderr ? " 2>&1 >/dev/null" : " 2>/dev/null");
  ToolRun run{"", -1};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) run.output.append(buffer, got);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// A folder of its own under the temporary folder, removed afterwards.
class OutputFolder {
 public:
  OutputFolder() {
    char name[] = "/tmp/vantrel-imaq-out-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~OutputFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readText(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The RGB pixels of a PNG file, or nothing.
std::vector<std::uint8_t> readPng(const std::string& file, int& width, int& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, file.c_str()) == 0) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) return {};
  width = int(image.width);
  height = int(image.height);
  return pixels;
}

// A shell running `script` in the background, its stdout and stderr read by
// the test. It tells its process id first, which the tool keeps when the
// script ends with `exec`: the tests send it their signals.
class Background {
 public:
  explicit Background(const std::string& script) : pipe_(popen(("exec 2>&1; echo $$; " + script).c_str(), "r")) {
    if (pipe_ != nullptr && readUntil("\n")) pid = std::atoi(output.c_str());
  }
  ~Background() {
    if (pid > 0) kill(pid, SIGKILL);
    if (pipe_ != nullptr) pclose(pipe_);
  }
  // Reads the output until `text` has come (true) or the output ends.
  bool readUntil(const std::string& text) {
    char buffer[4096];
    for (ssize_t got; output.find(text) == std::string::npos; output.append(buffer, std::size_t(got)))
      if ((got = read(fileno(pipe_), buffer, sizeof(buffer))) <= 0) return false;
    return true;
  }
  // The wait status once it has ended; output then holds all it wrote.
  int finish() {
    readUntil(std::string(1, '\0'));
    const int status = pclose(pipe_);
    pipe_ = nullptr;
    pid = 0;
    return status;
  }

  pid_t pid = 0;
  std::string output;

 private:
  FILE* pipe_;
};

// Waits (at most a minute) until `file` has `count` lines.
bool waitForLines(const std::string& file, std::size_t count) {
  for (int wait = 0; wait < 6000 && linesOf(readText(file)).size() < count; ++wait) usleep(10000);
  return linesOf(readText(file)).size() >= count;
}

std::set<std::string> filesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// Text that holds each of `parts`.
Matcher<const std::string&> Holds(const std::vector<std::string>& parts) {
  std::vector<Matcher<const std::string&>> each;
  for (const std::string& part : parts) each.push_back(HasSubstr(part));
  return AllOfArray(each);
}

}  // namespace

// What each command shows (stdout; stderr when it fails) and its exit code.
// Values and numbers refused while the command line is read (105) stop the
// tool before anything starts: no output folder is made.
TEST(ToolCommands, ShowWhatWasAskedForAndRefuseWhatTheyCannotDo) {
  const struct {
    const char* arguments;
    int exitCode;
    Matcher<const std::string&> output;
  } cases[] = {
      {"hwinfo", 0,
       AllOf(StartsWith("Adaptor \"vantrelimaq\" ("),
             EndsWith(")\nDevice 1 \"vantrelimaq\"\n"
                      "  Formats:\n"
                      "    1 \"RS170\" (default)\n"
                      "    2 \"PAL\"\n"
                      "  Sources:\n"
                      "    \"OrnStreamSource\" = 1\n"
                      "    \"input1\" = 1\n"
                      "  Trigger configurations: none\n"
                      "  Properties:\n"
                      "    \"SyncInput\": enumerated, initial value \"green\", read-only \"whileRunning\"\n"
                      "      \"green\" = 1\n"
                      "      \"red\" = 2\n"
                      "      \"blue\" = 3\n"
                      "      \"externalSync\" = 4\n"
                      "    \"Format\": enumerated, initial value \" RGB_24bit\", read-only \"whileRunning\"\n"
                      "      \" RGB_24bit\" = 1\n"
                      "      \"YCrCb_20bit\" = 2\n"))},
      {"hwinfo --device 2", 0,
       Holds({"Device 2 (not in the catalogue)\n", "    \"input6\" = 6\n", "    \"TTL\" = 2, \"risingEdge\" = 2\n",
              "    \"Sharpness\": named, read-only mode not set\n"})},
      {"hwinfo --device 3", 0, HasSubstr("  Trigger configurations: none\n  Properties: none\n")},
      {"hwinfo --device 4", 1, Eq("Error imaq:demo:devicenotfound: Unable to find the image acquisition device.\n")},
      {"--adaptor /nonexistent/libvantrelimaq.so hwinfo", 1, HasSubstr("/nonexistent/libvantrelimaq.so")},
      {"status", 0,
       Holds({"  Video format code:  0x01\n", "  Interlaced:         yes\n", "  Frame rate:         50 fields/s\n",
              "  Size:               1920 x 1080\n", "  Signal:             present\n"})},
      {"status --mode 720p60", 0,
       Holds({"  Video format code:  0x0A\n", "  Interlaced:         no\n", "  Frame rate:         60 frames/s\n",
              "  Size:               1280 x 720\n", "  Frames per second:  60 (measured by the driver)\n"})},
      {"status --no-camera", 0,
       Holds({"  Camera connected:   no\n", "  Video format code:  0xFF (not settled)\n",
              "  Signal:             none\n"})},
      {"status --cards 0", 1, StartsWith("vantrel-imaq: no card found, or none that opens\n")},
      {"acquire --format RGB_24bit", 1,
       StartsWith("Error imaq:host:invalidValue: \"RGB_24bit\" is not a valid value of \"Format\". Valid values: "
                  "\" RGB_24bit\", \"YCrCb_20bit\".\n")},
      {"acquire --cards 0", 1,
       StartsWith("Error imaq:host:openFailed: The device could not be opened: there is no card, or none that "
                  "opens.\n")},
      // Numbers not finite or out of range.
      {"acquire --timeout nan", 105, StartsWith("--timeout: ")},
      {"acquire --timeout 1e17", 105, StartsWith("--timeout: ")},
      {"acquire --timeout 0", 105, StartsWith("--timeout: ")},
      {"acquire --remove-at 1e10", 105, StartsWith("--remove-at: ")},
      {"acquire --remove-at 1 --insert-at inf", 105, StartsWith("--insert-at: ")},
      {"acquire --frames 0", 105, StartsWith("--frames: ")},
      {"acquire --buffer 100000", 105, StartsWith("--buffer: ")},
      {"acquire --cards 9", 105, StartsWith("--cards: ")},
      {"acquire --images jpg", 105, StartsWith("--images: jpg not in {png,raw,none}")},
      {"acquire --images", 105, StartsWith("--images: ")},
      {"acquire --write-queue 0", 105, StartsWith("--write-queue: ")},
      {"acquire --write-queue 1025", 105, StartsWith("--write-queue: ")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const OutputFolder out;
    const bool acquire = std::string(c.arguments).starts_with("acquire");
    const ToolRun run = runTool(c.arguments + (acquire ? " --out " + out.file("images") : ""), c.exitCode != 0);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_THAT(run.output, c.output);
    EXPECT_TRUE(c.exitCode != 105 || !std::filesystem::exists(out.file("images"))) << "started";
  }
}

#if defined(VANTREL_ADAPTOR_LOGS)
TEST(ToolDebugOutput, ShowsTheLibraryDebuggerOutputOnStderrOnlyWhenAsked) {
  // A user without a log configuration: the start-up reports the missing key.
  const OutputFolder config;
  const std::string environment = "XDG_CONFIG_HOME=" + config.path();
  const auto shown = AllOf(StartsWith("Open registry key\n"), HasSubstr("Software\\Teskar\\ORNSDI\\SDK\\Log"));
  const ToolRun asked = runTool("hwinfo --debug-output", true, environment);
  EXPECT_EQ(asked.exitCode, 0);
  EXPECT_THAT(asked.output, shown);
  const ToolRun quiet = runTool("hwinfo", true, environment);
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.output, "");
  // The layer already loaded when the tool starts: the tool starts again so
  // that the layer reads the setting.
  const ToolRun preloaded = runTool("hwinfo --debug-output", true,
                                    environment + " ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" VWIN32_PATH);
  EXPECT_EQ(preloaded.exitCode, 0);
  EXPECT_THAT(preloaded.output, shown);
}
#endif

TEST(ToolAcquire, WritesEachFrameAsAnImageWithACsvLineAndASummary) {
  // The viewing conversion of YCrCb frames is the PNG library's own: a tolerance.
  for (const auto& [format, frameType, tolerance] :
       {std::tuple{"rgb", "0x01030001", 0}, std::tuple{"ycrcb", "0x03030000", 3}}) {
    SCOPED_TRACE(format);
    const OutputFolder out;
    const ToolRun run = runTool(std::string("acquire --mode 720p60 --free-running --frames 3 --format ") + format +
                                " --out " + out.path());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    // summary.txt is what was shown.
    EXPECT_THAT(run.output, Holds({"Frames written:       3 of 3", readText(out.file("summary.txt")),
                                   "Images are in " + out.path() + " (frame_0001.png to frame_0003.png)"}));
    const auto row = [&](int n) { return MatchesRegex(std::to_string(n) + ",[0-9.]+,1280,720," + frameType); };
    EXPECT_THAT(linesOf(readText(out.file("frames.csv"))),
                ElementsAre("frame,time_stamp_s,width,height,frame_type", row(1), row(2), row(3)));

    int width = 0;
    int height = 0;
    const std::vector<std::uint8_t> rgb = readPng(out.file("frame_0002.png"), width, height);
    ASSERT_EQ(std::pair(width, height), std::pair(1280, 720));
    for (int bar = 0; bar < 8; ++bar) {  // the middle of each colour bar, on the first line: red, green, blue
      const vsim::PatternSample s = vsim::BarColour(bar);
      const vsim::Bgr expected = vsim::ConvertToBgr(s.y0, s.cb, s.cr);
      const std::uint8_t* pixel = &rgb[std::size_t(bar * 1280 / 8 + 80) * 3];
      EXPECT_THAT(std::vector<int>(pixel, pixel + 3),
                  Pointwise(DoubleNear(tolerance), std::vector<int>{expected.r, expected.g, expected.b}))
          << "bar " << bar;
    }
  }
}

TEST(ToolAcquire, WritesTheImagesAskedForAndTheirBytesAsDelivered) {
  const struct {
    const char* options;
    std::vector<std::string> endings;  // of each frame's files
    std::size_t bytesPerPixel;         // of the first one, raw bytes; 0: not looked at
  } cases[] = {
      {"--images raw", {".bgr"}, 3},
      {"--images RAW --format ycrcb", {".yuv"}, 2},
      {"--images png --format ycrcb", {".yuv", ".png"}, 2},
      {"--images none", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const OutputFolder out;
    const ToolRun run =
        runTool(std::string("acquire --mode 720p60 --free-running --frames 2 --out ") + out.path() + " " + c.options);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::set<std::string> expected{"frames.csv", "summary.txt"};
    for (const std::string& ending : c.endings) expected.insert({"frame_0001" + ending, "frame_0002" + ending});
    EXPECT_EQ(filesIn(out.path()), expected);
    if (c.bytesPerPixel == 0) continue;
    const std::string bytes = readText(out.file("frame_0001" + c.endings[0]));
    ASSERT_EQ(bytes.size(), 1280u * 720u * c.bytesPerPixel);
    // The middle of the second colour bar, on the first line: its blue, or its luma.
    const vsim::PatternSample s = vsim::BarColour(1);
    EXPECT_EQ(std::uint8_t(bytes[(1280 / 8 + 80) * c.bytesPerPixel]),
              c.bytesPerPixel == 3 ? vsim::ConvertToBgr(s.y0, s.cb, s.cr).b : vsim::ReduceTo8(s.y0));
  }
}

TEST(ToolAcquire, TheSummaryAccountsForEveryFrameFromTheCardToTheFiles) {
  // A writer queue of one frame and PNG images from a card that sends a
  // frame whenever it has a free buffer: the writer falls behind.
  for (const char* options : {"--images png --write-queue 1", "--images none"}) {
    SCOPED_TRACE(options);
    const OutputFolder out;
    const ToolRun run =
        runTool(std::string("acquire --mode 720p60 --free-running --frames 40 --out ") + out.path() + " " + options);
    const std::string summary = readText(out.file("summary.txt"));
    // The count of `what` ("  written:   12  (...)"), or -1.
    auto n = [&](const std::string& what) {
      const std::size_t at = summary.find("\n  " + what + ":");
      return at == std::string::npos ? -1LL : std::atoll(summary.c_str() + at + what.size() + 4);
    };
    ASSERT_GE(n("written"), 0) << summary;
    EXPECT_EQ(n("captured by the card"),
              n("dropped by the card") + n("delivered by the driver") + std::max(0LL, n("not delivered")));
    EXPECT_EQ(n("delivered by the driver"), n("delivered by the library") + std::max(0LL, n("not handed on")));
    EXPECT_EQ(n("delivered by the library"),
              n("received by the engine") + std::max(0LL, n("not passed on by adaptor")));
    EXPECT_EQ(n("received by the engine"), n("dropped by the engine") + n("taken from the engine"));
    EXPECT_EQ(n("taken from the engine"), n("written") + n("not written, queue full") + n("not written, stopped"));
    EXPECT_EQ(linesOf(readText(out.file("frames.csv"))).size(), std::size_t(n("written") + 1));
    EXPECT_EQ(run.exitCode, n("written") == 40 ? 0 : 1) << summary;
  }
}

TEST(ToolAcquire, RidesOutAPulledCard) {
  const OutputFolder out;
  const ToolRun run = runTool("acquire --mode 720p60 --frames 90 --remove-at 0.2 --insert-at 0.3 --out " + out.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_THAT(run.output,
              AllOf(ContainsRegex("Card removed at .*Card inserted at "), HasSubstr("Frames written:       90 of 90")));
  EXPECT_EQ(linesOf(readText(out.file("frames.csv"))).size(), 91u);
}

TEST(ToolAcquire, AFirstStopSignalEndsTheAcquisitionCleanly) {
  for (const int number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(number));
    const OutputFolder out;
    // A log file configured in a registry of the test's own: its closing
    // banner shows that the module was unloaded.
    std::filesystem::create_directories(out.file("config/vantrel"));
    std::ofstream(out.file("config/vantrel/HKCU.reg"))
        << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log]\n"
           "\"FileOutDetail\"=dword:00000005\n\"LogDir\"=\"" << out.path() << "/\"\n";
    const std::string images = out.file("images");
    Background tool("XDG_CONFIG_HOME=" + out.file("config") + " exec " VANTREL_IMAQ_PATH
                    " acquire --mode 720p60 --frames 100000 --out " + images);
    ASSERT_TRUE(waitForLines(images + "/frames.csv", 3)) << "two frames written";
    kill(tool.pid, number);
    const int status = tool.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + number) << status << tool.output;
    EXPECT_THAT(readText(images + "/summary.txt"), HasSubstr("Stopped:              interrupted"));
    const std::set<std::string> files = filesIn(images);
    int width = 0;
    int height = 0;
    for (const std::string& name : files)
      EXPECT_TRUE(name.ends_with(".csv") || name.ends_with(".txt") || !readPng(images + "/" + name, width, height).empty())
          << name << " is no whole image";
    EXPECT_EQ(files.size() - 2, linesOf(readText(images + "/frames.csv")).size() - 1) << "a CSV line per image";
#if defined(VANTREL_ADAPTOR_LOGS)
    std::string log = readText(out.file("ORNSDI.txt"));
    std::erase(log, '\0');  // the ASCII of UTF-16LE text
    EXPECT_NE(log.find("<<<<<<<<<<<<<<<<< Close the log channels"), std::string::npos) << log;
#endif
  }
}

TEST(ToolAcquire, ASecondStopSignalEndsTheToolAtOnce) {
  const OutputFolder out;
  // Its stdout a full pipe that nobody reads, the tool cannot finish after
  // the first signal.
  Background tool("cd " + out.path() + " && mkfifo stalled && exec 3<>stalled && "
                  "dd if=/dev/zero of=stalled bs=4096 count=1024 oflag=nonblock 2>/dev/null; "
                  "exec " VANTREL_IMAQ_PATH " acquire --out images >&3");
  ASSERT_TRUE(waitForLines(out.file("images/frames.csv"), 1));
  kill(tool.pid, SIGINT);
  EXPECT_TRUE(tool.readUntil("interrupted")) << tool.output;
  kill(tool.pid, SIGINT);
  const int status = tool.finish();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status << tool.output;
}

TEST(ToolAcquire, AFullDiskLeavesNoPartialImageAndTheSummarySaysWhereItStopped) {
  const OutputFolder out;
  // Files of at most 512 KiB (or 1 MiB, by the shell's block size): the first
  // frame's 1.8 MB of YCrCb bytes do not fit. A write past the limit then
  // fails with EFBIG, as one on a full disk fails with ENOSPC.
  const ToolRun run = runTool("acquire --mode 720p60 --free-running --format ycrcb --frames 3 --out " + out.path(),
                              false, "trap '' XFSZ; ulimit -f 1024;");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  const std::string stop = "Stopped:              frame 1 not written: cannot write " + out.file("frame_0001.yuv");
  EXPECT_THAT(readText(out.file("summary.txt")), HasSubstr(stop + ": File too large\n"));
  EXPECT_EQ(filesIn(out.path()), (std::set<std::string>{"frames.csv", "summary.txt"}));
  EXPECT_EQ(linesOf(readText(out.file("frames.csv"))).size(), 1u);
}
