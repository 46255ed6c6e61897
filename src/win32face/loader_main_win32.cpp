// The loader's start on Windows: the main window (its creation restores the saved port
// and file), then the message loop until the main window closes.
#include <windows.h>

#include <exception>

#include "platform/utf8_win32.h"
#include "win32face/win32_face.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int show) {
  try {
    win32face::TWin32Face face(instance);
    return face.Run(show);
  } catch (const std::exception& error) {
    // The window itself could not be made: say why, in the program's own box.
    ::MessageBoxW(nullptr, platform::Utf8ToWide(error.what()).c_str(),
                  platform::Utf8ToWide(window::kAppTitle).c_str(), MB_OK | MB_ICONERROR);
    return 1;
  }
}
