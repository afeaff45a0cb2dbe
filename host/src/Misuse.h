// The host's refusal of an adaptor's misuse of its objects.
#pragma once

#include "ImaqHost.h"

namespace imaqhost {

[[noreturn]] inline void misuse(const std::string& what) { throw HostError(kBadArgument, what); }

// A text the adaptor must give, as a string.
inline std::string textOrFail(const char* text, const char* what) {
  if (text == nullptr) misuse(std::string(what) + ": no name");
  return text;
}

}  // namespace imaqhost
