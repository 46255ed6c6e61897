// Port discovery on Windows: the COM devices in the DOS device list on the NT family, the
// open test on older systems.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "app/comports.h"

namespace app {

namespace {

// Every name longer than "COM" that starts with it (letter case as written), in the order
// the system lists them.
void AddDosDeviceComPorts(std::vector<std::string>& names) {
  constexpr DWORD kBufferSize = 65535;
  auto buf = std::make_unique<char[]>(kBufferSize);
  const DWORD len = QueryDosDeviceA(nullptr, buf.get(), kBufferSize);
  if (len == 0) return;
  // Each name ends with a zero byte and an empty name ends the list; stop at the length
  // reported as well, so a list cut short by the buffer is never read past its end.
  for (DWORD pos = 0; pos < len && buf[pos] != '\0';) {
    const char* name = buf.get() + pos;
    const std::size_t n = strnlen(name, len - pos);
    if (n > 3 && std::strncmp(name, "COM", 3) == 0) names.emplace_back(name, n);
    pos += static_cast<DWORD>(n) + 1;
  }
}

// COM1..COM255 that open, or that refuse because they are in use (5) or not working (31).
void AddOpenableComPorts(std::vector<std::string>& names) {
  for (int n = 1; n <= 255; ++n) {
    const std::string name = "COM" + std::to_string(n);
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    bool present = h != INVALID_HANDLE_VALUE;
    if (present) {
      CloseHandle(h);
    } else {
      const DWORD err = GetLastError();
      present = err == ERROR_ACCESS_DENIED || err == ERROR_GEN_FAILURE;
    }
    if (present) names.push_back(name);
  }
}

}  // namespace

std::vector<std::string> EnumerateComPorts() {
  std::vector<std::string> names;
  // The record's size field says which layout is asked for: 148 bytes, the plain
  // OSVERSIONINFOA.
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = 148;
  static_assert(sizeof(OSVERSIONINFOA) == 148);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&version)) return names;
#pragma GCC diagnostic pop
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    AddDosDeviceComPorts(names);
  } else {
    AddOpenableComPorts(names);
  }
  return names;
}

}  // namespace app
