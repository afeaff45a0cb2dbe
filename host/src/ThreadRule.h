// The kit's thread rule as the host checks it: on a grab thread only
// wantsFrame, countFrame, engine, makeFrame, copyImage, setTimeStamp,
// deliverFrame and getCurrentTime; every other call on the engine's thread.
// A call that breaks the rule still does its work: it is recorded, for the
// host's user to see (threadRuleBreaches).
#pragma once

#include <thread>

namespace imaqhost {

// A grab-thread call of an engine's acquisition: a thread other than that
// engine's thread is a grab thread from now on. Without a known engine
// thread (a manager used on its own) nothing is marked.
void noteGrabCall(std::thread::id engineThread);
// An engine-thread call: recorded when it comes on a grab thread, or, when
// the engine thread is known, on any other thread.
void checkEngineCall(const char* call, std::thread::id engineThread = std::thread::id());

}  // namespace imaqhost
