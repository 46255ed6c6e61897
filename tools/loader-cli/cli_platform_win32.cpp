#include <io.h>
#include <windows.h>

#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "cli_commands.h"
#include "cli_platform.h"
#include "platform/file.h"

namespace cli {

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

std::filesystem::path MakePrivateFolder() {
  // The user's temporary folder is the user's own; a fresh name per attempt, as
  // CreateDirectory fails on one that exists.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path = base / ("loader-cli-" + std::to_string(random()));
    if (CreateDirectoryW(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("Cannot create a folder in " + Utf8Path(base) + ": " +
                           platform::SystemErrorText(::GetLastError()));
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
