#include "app/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace apptest {

namespace {

std::string ReadAndRemove(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  std::remove(path.c_str());
  return text.str();
}

int TemporaryFile(std::string& path) {
  char name[] = "/tmp/clipsmith-child-XXXXXX";
  const int fd = mkstemp(name);
  path = name;
  return fd;
}

}  // namespace

ChildOutcome ChildProcess::Run(const std::vector<std::string>& args, double deadlineSeconds) {
  ChildOutcome outcome;
  std::string outPath, errPath;
  const int outFd = TemporaryFile(outPath);
  const int errFd = TemporaryFile(errPath);
  if (outFd < 0 || errFd < 0 || args.empty()) return outcome;

  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(outFd);
  close(errFd);
  if (pid < 0) return outcome;
  outcome.started = true;

  int status = 0;
  struct rusage usage {};
  for (;;) {
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() > deadlineSeconds) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      outcome.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  outcome.seconds = elapsed.count();
  outcome.peakKiB = usage.ru_maxrss;
  if (WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
  outcome.out = ReadAndRemove(outPath);
  outcome.err = ReadAndRemove(errPath);
  return outcome;
}

}  // namespace apptest
