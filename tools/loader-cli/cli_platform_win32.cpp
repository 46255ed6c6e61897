#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <iostream>
#include <mutex>
#include <random>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "cli_commands.h"
#include "cli_platform.h"
#include "platform/file.h"
#include "platform/utf8_win32.h"

namespace cli {

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(platform::WideToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

namespace {
// The console's mode when `handle` is one.
bool ConsoleMode(HANDLE handle, DWORD& mode) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}
}  // namespace

namespace {

// A console's stream: the program's UTF-8 text written as UTF-16 through WriteConsoleW,
// which shows it whatever the console's code page. A character cut between two writes
// waits for its remaining bytes.
class TConsoleBuffer : public std::streambuf {
 public:
  explicit TConsoleBuffer(HANDLE handle) : handle_(handle) {}
  ~TConsoleBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      pending_ += traits_type::to_char_type(c);
      if (c == '\n') sync();
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending_.append(text, static_cast<std::size_t>(count));
    if (pending_.find('\n') != std::string::npos) sync();
    return count;
  }
  int sync() override {
    const std::size_t whole = WholeCharacters(pending_);
    if (whole == 0) return 0;
    const std::wstring wide = platform::Utf8ToWide(std::string_view(pending_).substr(0, whole));
    pending_.erase(0, whole);
    for (std::size_t at = 0; at < wide.size();) {
      DWORD written = 0;
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
      if (!WriteConsoleW(handle_, wide.data() + at, chunk, &written, nullptr) || written == 0) {
        return -1;
      }
      at += written;
    }
    return 0;
  }

 private:
  // The bytes of `text` up to the last character that is complete.
  static std::size_t WholeCharacters(const std::string& text) {
    const std::size_t size = text.size();
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
      const auto byte = static_cast<unsigned char>(text[size - back]);
      if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      return length > back ? size - back : size;
    }
    return size;
  }

  HANDLE handle_;
  std::string pending_;
};

}  // namespace

struct TConsoleSession::TImpl {
  struct TConsoleStream {
    std::ostream* stream;
    HANDLE handle;
    DWORD mode;
    std::unique_ptr<TConsoleBuffer> buffer;
    std::streambuf* previous;
  };
  std::vector<TConsoleStream> streams;
};

TConsoleSession::TConsoleSession() : impl_(std::make_unique<TImpl>()) {
  const std::pair<std::ostream*, DWORD> streams[] = {{&std::cout, STD_OUTPUT_HANDLE},
                                                     {&std::cerr, STD_ERROR_HANDLE}};
  for (const auto& [stream, id] : streams) {
    const HANDLE handle = GetStdHandle(id);
    DWORD mode = 0;
    // Redirected output is no console: it stays UTF-8 bytes.
    if (!ConsoleMode(handle, mode)) continue;
    // Refused by consoles older than Windows 10: the progress then redraws with \r alone.
    SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    auto buffer = std::make_unique<TConsoleBuffer>(handle);
    stream->flush();
    std::streambuf* previous = stream->rdbuf(buffer.get());
    impl_->streams.push_back({stream, handle, mode, std::move(buffer), previous});
  }
}

TConsoleSession::~TConsoleSession() {
  for (TImpl::TConsoleStream& s : impl_->streams) {
    s.stream->flush();
    s.stream->rdbuf(s.previous);
    SetConsoleMode(s.handle, s.mode);
  }
}

bool TerminalSequences(std::FILE* stream) {
  DWORD mode = 0;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  return ConsoleMode(handle, mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

namespace {
std::mutex gHandlerMutex;
std::function<void()>* gHandler = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  std::function<void()>* handler = nullptr;
  {
    std::lock_guard lock(gHandlerMutex);
    handler = gHandler;
  }
  if (handler == nullptr) return FALSE;
  (*handler)();
  return TRUE;
}
}  // namespace

struct TInterruptWatch::TImpl {
  std::function<void()> onInterrupt;
  bool active = false;
};

TInterruptWatch::TInterruptWatch(std::function<void()> onInterrupt)
    : impl_(std::make_unique<TImpl>()) {
  impl_->onInterrupt = std::move(onInterrupt);
  {
    std::lock_guard lock(gHandlerMutex);
    gHandler = &impl_->onInterrupt;
  }
  impl_->active = SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

TInterruptWatch::~TInterruptWatch() {
  Stop();
}

void TInterruptWatch::Stop() {
  if (!impl_->active) return;
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  std::lock_guard lock(gHandlerMutex);
  gHandler = nullptr;
  impl_->active = false;
}

}  // namespace cli
