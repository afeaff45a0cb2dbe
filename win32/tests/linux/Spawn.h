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

// Starts program with args (argv[0] is program); extra "NAME=value" entries
// are added to the environment.
Child Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& environment = {});
// Reads the child's output to the end and waits for it; returns its exit code.
int Finish(Child& child, std::string* out = nullptr, std::string* err = nullptr);
// Reads one line of the child's stdout.
std::string ReadLine(const Child& child);
