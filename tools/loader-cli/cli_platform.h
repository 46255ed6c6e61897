// The little the command line needs from the operating system beyond the loader's own
// modules: whether a stream is a terminal, a private temporary folder, and the user's
// interrupt (Ctrl-C).
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cli {

bool IsTerminal(std::FILE* stream);

// The arguments after the program's name, as UTF-8 whatever the system's code page (on
// Windows read from the UTF-16 command line, as argv holds them in the ANSI code page).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// For the run of the program: the console shows UTF-8 text and understands the cursor
// sequences where it can (on Windows its output code page and modes, restored at the
// end; redirected output is left as UTF-8 bytes). Create it first thing in main.
class TConsoleSession {
 public:
  TConsoleSession();
  ~TConsoleSession();
  TConsoleSession(const TConsoleSession&) = delete;
  TConsoleSession& operator=(const TConsoleSession&) = delete;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// Whether `stream`, a terminal, moves its cursor by the ANSI sequences (a Windows console
// only with virtual-terminal processing, which TConsoleSession asks for).
bool TerminalSequences(std::FILE* stream);

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
