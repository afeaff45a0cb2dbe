// VANTREL_SIMCARD: the forms it takes, and what a bad value does.
#include "DriverTestSupport.h"

#include "../src/Environment.h"

#include <tuple>

namespace simtest {
namespace {

using vsim::Pacing;
using vsim::VideoMode;

auto Fields(const vsim::EnvironmentSetting& s) { return std::make_tuple(s.mode, s.cards, s.pacing, s.camera); }

TEST(SimCardVariable, ParsesEachForm) {
  struct Case { const char* value; vsim::EnvironmentSetting expected; };
  const Case cases[] = {
      {"1080p60", {VideoMode::HD1080p60, 1, Pacing::RealTime, true}},
      {"mode=1080i25,cards=2,pacing=free", {VideoMode::HD1080i25, 2, Pacing::FreeRunning, true}},
      {"720p50,camera=off,cards=8", {VideoMode::HD720p50, 8, Pacing::RealTime, false}},
      {"pacing=realtime,camera=on", {VideoMode::HD1080i25, 1, Pacing::RealTime, true}},
  };
  for (const Case& c : cases) {
    vsim::EnvironmentSetting parsed{VideoMode::HD720p60, 5, Pacing::FreeRunning, false};
    EXPECT_EQ(vsim::ParseSimCardVariable(c.value, &parsed), "") << c.value;
    EXPECT_EQ(Fields(parsed), Fields(c.expected)) << c.value;
  }
}

TEST(SimCardVariable, ABadValueSaysWhyAndStartsNoCard) {
  struct Case { const char* value; const char* message; };
  const Case cases[] = {
      {"1080p61", "unknown mode \"1080p61\" (modes: 1080i25, 1080i29.97,"},
      {"cards=0", "cards must be a number from 1 to 8, not \"0\""},
      {"cards=2x", "cards must be a number from 1 to 8, not \"2x\""},
      {"pacing=fast", "pacing must be realtime or free, not \"fast\""},
      {"camera=yes", "camera must be on or off"},
      {"colour=bars", "unknown item \"colour\""},
      {"1080p60,,cards=2", "an empty item"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(vsim::StartFromVariable(c.value)) << c.value;
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_NE(stderrText.find(std::string("VANTREL_SIMCARD=") + c.value + ": " + c.message), std::string::npos)
        << stderrText;
    EXPECT_NE(stderrText.find("; no simulated card\n"), std::string::npos) << stderrText;
    EXPECT_TRUE(ListCards().empty()) << c.value;
  }
}

TEST(SimCardVariable, StartsTheCardsUnlessUnsetOrAlreadyRunning) {
  EXPECT_FALSE(vsim::StartFromVariable(nullptr));
  EXPECT_FALSE(vsim::StartFromVariable(""));
  EXPECT_EQ(vsim::Simulator::Instance(), nullptr);
  ASSERT_TRUE(vsim::StartFromVariable("720p50,cards=2"));
  EXPECT_EQ(ListCards().size(), 2u);
  // A program that set up its own simulator keeps it as it is.
  EXPECT_FALSE(vsim::StartFromVariable("cards=3"));
  EXPECT_EQ(ListCards().size(), 2u);
  vsim::Simulator::Stop();
}

}  // namespace
}  // namespace simtest
