// The adaptor linked in with the grabber library, a video input on it
// through the stand-in engine, and the simulated card behind it.
#pragma once

#include "Catalogue.h"
#include "ImaqEngine.h"
#include "SimCard.h"
#include "VantrelAdaptor.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

inline constexpr std::chrono::seconds kGuard{60};  // only turns a hang into a failure

// The module's five entry points, on the adaptor linked into the test.
inline const imaqhost::AdaptorEntryPoints kLinkedEntryPoints = {
    .initializeAdaptor = [] {}, .uninitializeAdaptor = [] {},
    .getAvailHW = [](IHardwareList* hardware) { vantrel::describeHardware(*hardware); },
    .getDeviceAttributes = [](const IDeviceEntry* device, const char*, IPropertyBuilder* properties,
                              ISourceList* sources, ITriggerList* triggers) {
      vantrel::describeDevice(*device, *properties, *sources, *triggers);
    },
    .createInstance = vantrel::createAdaptor};

// An engine frame with the card's size and its test pattern on the first
// line, one of the second field's and the last (below the bars, black).
MATCHER_P(ShowsPattern, mode, "shows the card's test pattern") {
  const vsim::ModeInfo& info = vsim::Describe(mode);
  if (arg.width() != info.width || arg.height() != info.height) return false;
  const int lines[] = {0, info.height / 2 + 1, info.height - 1};
  return std::ranges::all_of(lines, [&](int line) {
    std::vector<std::uint8_t> expected;
    for (int p = 0; p < info.width / 2; ++p) {
      const vsim::PatternSample s = vsim::PatternAt(mode, 0, line, p);
      const vsim::Bgr a = vsim::ConvertToBgr(s.y0, s.cb, s.cr), b = vsim::ConvertToBgr(s.y1, s.cb, s.cr);
      if (arg.frameType() == imaqhost::kFrameTypeYCbCr422)
        expected.insert(expected.end(), {vsim::ReduceTo8(s.y0), vsim::ReduceTo8(s.cb), vsim::ReduceTo8(s.y1),
                                         vsim::ReduceTo8(s.cr)});
      else
        expected.insert(expected.end(), {a.b, a.g, a.r, b.b, b.g, b.r});
    }
    return std::equal(expected.begin(), expected.end(), arg.pixels().begin() + std::size_t(line) * arg.rowBytes());
  });
}

// One card; the camera sends 1080i25 as fast as buffers come back. Every kit
// call of the adaptor must come on the thread the kit allows it on.
class CardFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    imaqhost::clearThreadRuleBreaches();
    vsim::Simulator::Start(1).SetPacing(vsim::Pacing::FreeRunning);
    renewInput();
  }
  void TearDown() override {
    input_.reset();
    EXPECT_EQ(imaqhost::threadRuleBreaches(), std::vector<std::string>());
    vsim::Simulator::Stop();
  }
  vsim::Simulator& sim() { return *vsim::Simulator::Instance(); }
  imaqhost::VideoInput& input() { return *input_; }
  // A new video input, for a fresh list of events.
  void renewInput() {
    input_.reset();
    input_ = imaqhost::VideoInput::create(kLinkedEntryPoints);
  }
  std::unique_ptr<imaqhost::VideoInput> input_;
};
