#include "Spawn.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace {

// The test's environment with the given entries replacing those of the same name.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
  std::vector<std::string> all;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e, name = entry.substr(0, entry.find('=') + 1);
    auto same = [&name](const std::string& change) { return !name.empty() && change.rfind(name, 0) == 0; };
    if (std::none_of(changes.begin(), changes.end(), same)) all.push_back(entry);
  }
  all.insert(all.end(), changes.begin(), changes.end());
  return all;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string ReadAll(int fd) {
  std::string text;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, size_t(n));
  return text;
}

}  // namespace

Child Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& environment, uid_t uid) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  std::vector<std::string> argTexts{program};
  argTexts.insert(argTexts.end(), args.begin(), args.end());
  std::vector<std::string> envTexts = Environment(environment);
  std::vector<char*> argv = Pointers(argTexts), envp = Pointers(envTexts);
  Child child;
  child.pid = fork();
  if (child.pid == 0) {  // only async-signal-safe calls from here to exec
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    if (uid != uid_t(-1) && (setgid(gid_t(uid)) != 0 || setuid(uid) != 0)) _exit(126);
    alarm(kChildSeconds);  // kept across execve
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  for (int fd : {out[1], err[1]}) close(fd);
  child.out = out[0];
  child.err = err[0];
  return child;
}

int Finish(Child& child, std::string* out, std::string* err) {
  const std::string o = ReadAll(child.out), e = ReadAll(child.err);
  for (int fd : {child.out, child.err}) close(fd);
  if (out) *out = o;
  if (err) *err = e;
  int status = 0;
  if (child.pid <= 0 || waitpid(child.pid, &status, 0) != child.pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadLine(const Child& child) {
  std::string line;
  char c;
  while (read(child.out, &c, 1) == 1 && c != '\n') line += c;
  return line;
}
