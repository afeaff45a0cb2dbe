// The adaptor's memory: the "RS170" record, the adaptor and a listener per
// property come from the kit and all go back to it.
#include "CardFixture.h"

using AdaptorMemory = CardFixture;

// Without memory for the "RS170" record the input is made all the same, with
// three bands; without memory for the adaptor there is none, without memory
// for a listener the adaptor raises an engine error; nothing is left over.
TEST_F(AdaptorMemory, EveryAllocationGoesBackThroughTheKitAlsoWhenOneFails) {
  const std::pair<int, std::string> cases[] = {
      {0, "none"}, {1, imaqhost::kNoAdaptor}, {2, "imaq:vantrelimaq:noMemory"}, {3, "imaq:vantrelimaq:noMemory"}};
  input_.reset();
  const long before = imaqhost::liveAllocations();
  for (const auto& [after, error] : cases) {
    imaqhost::failNextAllocations(1, after);
    try {
      renewInput();
      EXPECT_EQ(input().adaptor().bandCount(), 3);
      EXPECT_EQ(error, "none");
    } catch (const imaqhost::HostError& raised) {
      EXPECT_EQ(raised.identifier(), error);
    }
    imaqhost::failNextAllocations(0);
    input_.reset();
    EXPECT_EQ(imaqhost::liveAllocations(), before) << "failed allocation " << after;
  }
}
