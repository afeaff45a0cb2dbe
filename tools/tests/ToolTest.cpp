// vantrel-imaq as a user runs it: its output, its errors and exit codes.
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

// The output after its first line (which names the module's path).
std::string afterFirstLine(const std::string& text) { return text.substr(text.find('\n') + 1); }

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


}  // namespace

TEST(ToolHwInfo, ShowsTheCatalogueWithQuotedTextsDefaultFormatAndProperties) {
  const ToolRun run = runTool("hwinfo");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output.rfind("Adaptor \"vantrelimaq\" (", 0), 0u) << run.output;
  EXPECT_EQ(afterFirstLine(run.output),
            "Device 1 \"vantrelimaq\"\n"
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
            "      \"YCrCb_20bit\" = 2\n");
}

TEST(ToolHwInfo, AsksAboutOtherDeviceIds) {
  const ToolRun two = runTool("hwinfo --device 2");
  EXPECT_EQ(two.exitCode, 0);
  for (const char* line : {"Device 2 (not in the catalogue)\n", "    \"input6\" = 6\n",
                           "    \"TTL\" = 2, \"risingEdge\" = 2\n",
                           "    \"Sharpness\": named, read-only mode not set\n"})
    EXPECT_NE(two.output.find(line), std::string::npos) << line;
  const ToolRun three = runTool("hwinfo --device 3");
  EXPECT_EQ(three.exitCode, 0);
  EXPECT_NE(three.output.find("  Trigger configurations: none\n  Properties: none\n"), std::string::npos);
}

TEST(ToolHwInfo, FailuresGoToStderrWithANonZeroExitCode) {
  const ToolRun unknown = runTool("hwinfo --device 4", true);
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_EQ(unknown.output, "Error imaq:demo:devicenotfound: Unable to find the image acquisition device.\n");
  const ToolRun missing = runTool("--adaptor /nonexistent/libvantrelimaq.so hwinfo", true);
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.output.find("/nonexistent/libvantrelimaq.so"), std::string::npos) << missing.output;
}

#if defined(VANTREL_ADAPTOR_LOGS)
TEST(ToolDebugOutput, ShowsTheLibraryDebuggerOutputOnStderrOnlyWhenAsked) {
  // A user without a log configuration: the start-up reports the missing key.
  const OutputFolder config;
  const std::string environment = "XDG_CONFIG_HOME=" + config.path();
  const ToolRun shown = runTool("hwinfo --debug-output", true, environment);
  EXPECT_EQ(shown.exitCode, 0);
  EXPECT_EQ(shown.output.rfind("Open registry key\n", 0), 0u) << shown.output;
  EXPECT_NE(shown.output.find("Software\\Teskar\\ORNSDI\\SDK\\Log"), std::string::npos) << shown.output;
  const ToolRun quiet = runTool("hwinfo", true, environment);
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.output, "");
  // The layer already loaded when the tool starts: the tool starts again so
  // that the layer reads the setting.
  const ToolRun preloaded = runTool("hwinfo --debug-output", true,
                                    environment + " ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" VWIN32_PATH);
  EXPECT_EQ(preloaded.exitCode, 0);
  EXPECT_EQ(preloaded.output.rfind("Open registry key\n", 0), 0u) << preloaded.output;
}
#endif


TEST(ToolAcquire, WritesEachFrameAsAnImageWithACsvLineAndASummary) {
  struct Case {
    const char* format;
    const char* frameType;
    int tolerance;  // the viewing conversion of YCrCb frames is the PNG library's own
  };
  for (const Case& c : {Case{"rgb", "0x01030001", 0}, Case{"ycrcb", "0x03030000", 3}}) {
    SCOPED_TRACE(c.format);
    const OutputFolder out;
    const ToolRun run =
        runTool(std::string("acquire --mode 720p60 --free-running --frames 3 --format ") + c.format + " --out " + out.path());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Frames written:       3 of 3"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Images are in " + out.path() + " (frame_0001.png to frame_0003.png)"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(readText(out.file("summary.txt"))), std::string::npos) << "summary.txt is what was shown";

    const std::vector<std::string> csv = linesOf(readText(out.file("frames.csv")));
    ASSERT_EQ(csv.size(), 4u);
    EXPECT_EQ(csv[0], "frame,time_stamp_s,width,height,frame_type");
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(csv[n].rfind(std::to_string(n) + ",", 0), 0u) << csv[n];
      EXPECT_NE(csv[n].find(std::string(",1280,720,") + c.frameType), std::string::npos) << csv[n];
    }

    int width = 0;
    int height = 0;
    const std::vector<std::uint8_t> rgb = readPng(out.file("frame_0002.png"), width, height);
    ASSERT_EQ(width, 1280);
    ASSERT_EQ(height, 720);
    for (int bar = 0; bar < 8; ++bar) {  // the middle of each colour bar, on the first line
      const int x = bar * 1280 / 8 + 80;
      const vsim::PatternSample s = vsim::BarColour(bar);
      const vsim::Bgr expected = vsim::ConvertToBgr(s.y0, s.cb, s.cr);
      const std::uint8_t* pixel = &rgb[std::size_t(x) * 3];
      EXPECT_NEAR(pixel[0], expected.r, c.tolerance) << "red of bar " << bar;
      EXPECT_NEAR(pixel[1], expected.g, c.tolerance) << "green of bar " << bar;
      EXPECT_NEAR(pixel[2], expected.b, c.tolerance) << "blue of bar " << bar;
    }
  }
}

TEST(ToolAcquire, WritesTheImagesAskedForAndTheirBytesAsDelivered) {
  struct Case {
    const char* options;
    std::vector<std::string> endings;  // of each frame's files
    std::size_t bytesPerPixel;         // of the first one, raw bytes; 0: not looked at
  };
  const Case cases[] = {
      {"--images raw", {".bgr"}, 3},
      {"--images RAW --format ycrcb", {".yuv"}, 2},
      {"--images png --format ycrcb", {".yuv", ".png"}, 2},
      {"--images none", {}, 0},
  };
  for (const Case& c : cases) {
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
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::size_t removed = run.output.find("Card removed at ");
  const std::size_t inserted = run.output.find("Card inserted at ");
  ASSERT_NE(removed, std::string::npos) << run.output;
  EXPECT_GT(inserted, removed) << run.output;
  EXPECT_NE(run.output.find("Frames written:       90 of 90"), std::string::npos) << run.output;
  EXPECT_EQ(linesOf(readText(out.file("frames.csv"))).size(), 91u);
}

TEST(ToolAcquire, RefusedValuesAndMissingCardsEndWithAnErrorAndParsingErrorsBeforeAnythingStarts) {
  struct Case {
    const char* arguments;
    int exitCode;
    const char* error;  // how stderr begins
  };
  const Case cases[] = {
      {"acquire --format RGB_24bit", 1,
       "Error imaq:host:invalidValue: \"RGB_24bit\" is not a valid value of \"Format\". Valid values: \" RGB_24bit\", "
       "\"YCrCb_20bit\".\n"},
      {"acquire --cards 0", 1,
       "Error imaq:host:openFailed: The device could not be opened: there is no card, or none that opens.\n"},
      {"status --cards 0", 1, "vantrel-imaq: no card found, or none that opens\n"},
      // Numbers refused while the command line is read (not finite, out of range).
      {"acquire --timeout nan", 105, "--timeout: "}, {"acquire --timeout inf", 105, "--timeout: "},
      {"acquire --timeout 1e17", 105, "--timeout: "}, {"acquire --timeout 0", 105, "--timeout: "},
      {"acquire --remove-at nan", 105, "--remove-at: "}, {"acquire --remove-at 1e10", 105, "--remove-at: "},
      {"acquire --remove-at 1 --insert-at inf", 105, "--insert-at: "}, {"acquire --frames 0", 105, "--frames: "},
      {"acquire --buffer 100000", 105, "--buffer: "}, {"acquire --cards 9", 105, "--cards: "},
      {"acquire --images jpg", 105, "--images: jpg not in {png,raw,none}"}, {"acquire --images", 105, "--images: "},
      {"acquire --write-queue 0", 105, "--write-queue: "}, {"acquire --write-queue 1025", 105, "--write-queue: "},
  };
  for (const Case& c : cases) {
    const OutputFolder out;
    const bool acquire = std::string(c.arguments).rfind("acquire", 0) == 0;
    const ToolRun run = runTool(std::string(c.arguments) + (acquire ? " --out " + out.file("images") : ""), true);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments;
    EXPECT_EQ(run.output.rfind(c.error, 0), 0u) << c.arguments << ": " << run.output;
    EXPECT_TRUE(c.exitCode != 105 || !std::filesystem::exists(out.file("images"))) << c.arguments << ": started";
  }
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
    EXPECT_NE(readText(images + "/summary.txt").find("Stopped:              interrupted"), std::string::npos);
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
  EXPECT_NE(readText(out.file("summary.txt")).find(stop + ": File too large\n"), std::string::npos) << run.output;
  EXPECT_EQ(filesIn(out.path()), (std::set<std::string>{"frames.csv", "summary.txt"}));
  EXPECT_EQ(linesOf(readText(out.file("frames.csv"))).size(), 1u);
}

TEST(ToolStatus, ShowsTheFirstCardsCameraStatusForTheSimulatedMode) {
  struct Case {
    const char* options;
    std::vector<const char*> lines;
  };
  const Case cases[] = {
      {"", {"  Video format code:  0x01\n", "  Interlaced:         yes\n", "  Frame rate:         50 fields/s\n",
            "  Size:               1920 x 1080\n", "  Signal:             present\n"}},
      {"--mode 720p60", {"  Video format code:  0x0A\n", "  Interlaced:         no\n",
                         "  Frame rate:         60 frames/s\n", "  Size:               1280 x 720\n",
                         "  Frames per second:  60 (measured by the driver)\n"}},
      {"--no-camera", {"  Camera connected:   no\n", "  Video format code:  0xFF (not settled)\n",
                       "  Signal:             none\n"}},
  };
  for (const Case& c : cases) {
    const ToolRun run = runTool(std::string("status ") + c.options);
    EXPECT_EQ(run.exitCode, 0) << c.options;
    for (const char* line : c.lines) EXPECT_NE(run.output.find(line), std::string::npos) << c.options << ": " << line;
  }
}
