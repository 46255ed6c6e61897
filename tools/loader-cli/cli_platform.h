// The little the command line needs from the operating system beyond the loader's own
// modules: whether a stream is a terminal, a private temporary folder, and the user's
// interrupt (Ctrl-C).
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

namespace cli {

bool IsTerminal(std::FILE* stream);

// A new, empty folder under the system's temporary folder that only this user may enter;
// throws std::system_error.
std::filesystem::path MakePrivateFolder();

// Calls onInterrupt on a background thread each time the user interrupts the program
// (Ctrl-C; on POSIX also SIGTERM and SIGHUP) instead of letting the program die with its
// port open. Create it before any other thread: on POSIX the signals are blocked in the
// creating thread, and threads started later inherit that.
class TInterruptWatch {
 public:
  explicit TInterruptWatch(std::function<void()> onInterrupt);
  ~TInterruptWatch();
  TInterruptWatch(const TInterruptWatch&) = delete;
  TInterruptWatch& operator=(const TInterruptWatch&) = delete;

  // Ends the watch; onInterrupt must not be blocked when this is called.
  void Stop();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace cli
