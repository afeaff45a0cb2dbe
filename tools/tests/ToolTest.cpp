// vantrel-imaq as a user runs it: its output, its errors and exit codes.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

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
  char folder[] = "/tmp/vantrel-imaq-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string environment = std::string("XDG_CONFIG_HOME=") + folder;
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
  rmdir(folder);
}
#endif
