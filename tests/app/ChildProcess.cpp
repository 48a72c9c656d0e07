#include "app/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "TestSupport.h"

namespace apptest {

ChildOutcome ChildProcess::Run(const std::vector<std::string>& args, double deadlineSeconds) {
  ChildOutcome outcome;
  const testsupport::ScratchDir dir;  // the child's standard output and error
  const int outFd = open(dir.File("out").c_str(), O_WRONLY | O_CREAT, 0600);
  const int errFd = open(dir.File("err").c_str(), O_WRONLY | O_CREAT, 0600);
  if (outFd < 0 || errFd < 0 || args.empty()) return outcome;
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(outFd);
  close(errFd);
  if (pid < 0) return outcome;
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, WNOHANG, &usage) != pid) {
    if (elapsed() > deadlineSeconds) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  outcome.seconds = elapsed();
  outcome.peakKiB = usage.ru_maxrss;
  if (WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
  const testsupport::Bytes out = testsupport::ReadFile(dir.File("out"));
  const testsupport::Bytes err = testsupport::ReadFile(dir.File("err"));
  outcome.out.assign(out.begin(), out.end());
  outcome.err.assign(err.begin(), err.end());
  return outcome;
}

}  // namespace apptest
