// The kit's functions and base classes as an adaptor meets them: memory,
// engine errors, the adaptor's manager.
#include "HostTestSupport.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using imaqhost::AdaptorManager;
using imaqhost::HostError;

namespace {

struct Counted : IMAQInterface {
  explicit Counted(int* destroyed) : destroyed_(destroyed) {}
  ~Counted() override { ++*destroyed_; }
  int* destroyed_;
};

struct Failing : IMAQInterface {
  Failing() { throw HostError("test:failing", "constructor failed"); }
};

}  // namespace

// Objects made in kit memory go back through imaqfree when the host deletes
// them; a failing constructor leaves the memory to the caller; a failing
// allocation gives null that many times, then memory again.
TEST(KitMemory, ObjectsGoBackThroughImaqfreeAndFailedAllocationsGiveNull) {
  const long before = imaqhost::liveAllocations();
  int destroyed = 0;
  IMAQInterface* object = makeInKitMemory<Counted>(&destroyed);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(imaqhost::liveAllocations(), before + 1);
  delete object;
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(imaqhost::liveAllocations(), before);
  void* memory = imaqmalloc(sizeof(Failing));
  EXPECT_THROW(new (memory) Failing(), HostError);
  EXPECT_EQ(imaqhost::liveAllocations(), before + 1);  // placement delete released nothing
  imaqfree(memory);
  imaqhost::failNextAllocations(2);
  EXPECT_EQ(imaqmalloc(16), nullptr);
  EXPECT_EQ(makeInKitMemory<Counted>(nullptr), nullptr);
  void* third = imaqmalloc(16);
  EXPECT_NE(third, nullptr);
  imaqfree(third);
  imaqfree(nullptr);
  EXPECT_EQ(imaqhost::liveAllocations(), before);
}

TEST(KitError, AdaptorErrorCarriesIdentifierAndFormattedMessage) {
  for (const auto& [identifier, format, value, expected] :
       {std::tuple{"imaq:demo:devicenotfound", "Unable to find the image acquisition device.", 0,
                   "Unable to find the image acquisition device."},
        std::tuple{"imaq:test:number", "device %d is gone", 7, "device 7 is gone"},
        std::tuple{"imaq:test:empty", "", 0, ""}}) {
    std::string message;
    EXPECT_EQ(identifierOf([&] { adaptorError(nullptr, identifier, format, value); }, &message), identifier);
    EXPECT_EQ(message, expected);
  }
}

TEST(KitAdaptor, ManagerIsMadeForTheAdaptorAndEngineAndTakesTheForwardedCalls) {
  IEngine* engine = reinterpret_cast<IEngine*>(0x1000);  // only stored, never called
  IAdaptor* adaptor = makeInKitMemory<ScriptedAdaptor>(engine);
  ASSERT_NE(adaptor, nullptr);
  AdaptorManager* manager = imaqhost::managerOf(*adaptor);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(manager->adaptor(), adaptor);
  EXPECT_EQ(manager->engine(), engine);

  adaptor->reportDeviceError("imaq:test:lost", "card removed");
  adaptor->reportWarning("imaq:test:slow", "frames dropped");
  EXPECT_FALSE(manager->stopRequested());
  adaptor->requestStop();
  EXPECT_TRUE(manager->stopRequested());
  std::vector<std::string> reports;
  for (const auto& report : manager->reports())
    reports.push_back((report.isError ? "error " : "warning ") + report.identifier + " " + report.message);
  EXPECT_EQ(reports, (std::vector<std::string>{"error imaq:test:lost card removed",
                                               "warning imaq:test:slow frames dropped"}));
  delete adaptor;
}

TEST(KitAdaptor, FramesAreWantedOnlyWhileCaptureRunsAndNothingIsSuspended) {
  AdaptorManager manager(nullptr, nullptr);
  EXPECT_FALSE(manager.wantsFrame());
  manager.setCaptureRunning(true);
  EXPECT_TRUE(manager.wantsFrame());
  manager.suspendAcquisition();
  manager.suspendAcquisition();
  manager.resumeAcquisition();
  EXPECT_FALSE(manager.wantsFrame());
  manager.resumeAcquisition();
  EXPECT_TRUE(manager.wantsFrame());
  manager.setCaptureRunning(false);
  EXPECT_FALSE(manager.wantsFrame());
}

TEST(KitAdaptor, FramesCountedFromSeveralThreadsAreAllCounted) {
  AdaptorManager manager(nullptr, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) manager.countFrame();
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(manager.framesCounted(), 40000u);
}
