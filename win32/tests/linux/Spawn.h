// Child processes for the tests that need more than one process.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of the child's stdout
  int err = -1;  // read end of the child's stderr
};

// Starts program with args (argv[0] is program); "NAME=value" entries of
// environment replace or add to the test's own. A uid other than -1 runs the
// child as that user (the test must be root). A child still running after
// kChildSeconds dies of SIGALRM, so a hung child fails the test instead of
// hanging it: the time is generous, so that only a hang (or work that grows
// with the square of its input) runs into it.
constexpr unsigned kChildSeconds = 60;
Child Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& environment = {}, uid_t uid = uid_t(-1));
// Reads the child's output to the end and waits for it; returns its exit
// code, or 128 + the signal that ended it.
int Finish(Child& child, std::string* out = nullptr, std::string* err = nullptr);
// Reads one line of the child's stdout.
std::string ReadLine(const Child& child);
