#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

int Decode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

TChild::TChild(const std::vector<std::string>& argv, const TSpawnOptions& options)
    : errFile_(options.stderrFile) {
  int outPipe[2];
  int inPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0) Fail("pipe");
  if (options.stdinPipe && pipe2(inPipe, O_CLOEXEC) != 0) Fail("pipe");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.stdinPipe) {
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  const std::string err = options.stderrFile.empty() ? "/dev/null" : options.stderrFile;
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());

  // The children start with default signal handling and nothing blocked.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(outPipe[1]);
  if (options.stdinPipe) close(inPipe[0]);
  if (rc != 0) {
    close(outPipe[0]);
    if (options.stdinPipe) close(inPipe[1]);
    errno = rc;
    Fail("posix_spawn " + argv[0]);
  }
  outFd_ = outPipe[0];
  inFd_ = inPipe[1];
}

TChild::~TChild() {
  if (status_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (outFd_ >= 0) close(outFd_);
  if (inFd_ >= 0) close(inFd_);
}

bool TChild::ReadSome(Clock::time_point deadline) {
  if (outEnded_) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return false;
  pollfd p{outFd_, POLLIN, 0};
  const int ready = poll(&p, 1, static_cast<int>(left.count()));
  if (ready <= 0) return ready < 0 && errno == EINTR;
  char buf[4096];
  const ssize_t n = read(outFd_, buf, sizeof buf);
  if (n <= 0) {
    outEnded_ = true;
    return false;
  }
  out_.append(buf, static_cast<std::size_t>(n));
  return true;
}

bool TChild::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (out_.find(text) == std::string::npos) {
    if (!ReadSome(deadline) && (outEnded_ || Clock::now() >= deadline)) {
      return out_.find(text) != std::string::npos;
    }
  }
  return true;
}

std::string TChild::FirstLine(std::chrono::milliseconds timeout) {
  if (!WaitForOutput("\n", timeout)) return "";
  return out_.substr(0, out_.find('\n'));
}

void TChild::WriteStdin(const std::string& bytes) {
  if (inFd_ < 0) throw std::runtime_error("the child has no standard input pipe");
  if (write(inFd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    Fail("write to the child");
  }
}

void TChild::Signal(int signo) {
  if (status_ < 0) kill(pid_, signo);
}

int TChild::Wait(std::chrono::milliseconds timeout) {
  if (status_ >= 0) return status_;
  const auto deadline = Clock::now() + timeout;
  // Standard output ends when the child exits; then it is only a matter of reaping it.
  while (!outEnded_ && Clock::now() < deadline) ReadSome(deadline);
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = Decode(status);
      return status_;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  status_ = -1;
  pid_ = -1;
  return -1;
}

std::string TChild::Errors() const {
  return errFile_.empty() ? "" : ReadFile(errFile_);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  const std::string s = ReadFile(path);
  return {s.begin(), s.end()};
}

}  // namespace e2e
