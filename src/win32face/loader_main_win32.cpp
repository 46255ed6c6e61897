// The loader's start on Windows: the main window (its creation restores the saved port
// and file), then the message loop until the main window closes.
#include <windows.h>
// after windows.h, whose types it uses
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "platform/utf8_win32.h"
#include "win32face/win32_face.h"

namespace {

// `loader.exe FILE.hex`: the arguments after the program's name, from the command line as
// the system keeps it (UTF-16, so any name comes through).
std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(platform::WideToUtf8(words[i]));
  ::LocalFree(words);
  return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int show) {
  try {
    window::TMainWindowOptions options;
    options.openFile = window::FileArgument(Arguments());
    win32face::TWin32Face face(instance, std::move(options));
    return face.Run(show);
  } catch (const std::exception& error) {
    // The window itself could not be made: say why, in the program's own box.
    ::MessageBoxW(nullptr, platform::Utf8ToWide(error.what()).c_str(),
                  platform::Utf8ToWide(window::kAppTitle).c_str(), MB_OK | MB_ICONERROR);
    return 1;
  }
}
