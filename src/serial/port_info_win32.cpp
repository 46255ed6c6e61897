// Port discovery on Windows: the COM devices in the DOS device list on the NT family, the
// open test on older systems; the driver's device name from the registry describes each.
#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "serial/port_info.h"

namespace serial {

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

// The driver's device name for each port (value name \Device\VCP0, data COM3), as the
// serial drivers register their ports; empty when the key cannot be read.
std::map<std::string, std::string> DriverDeviceNames() {
  std::map<std::string, std::string> devices;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return devices;
  for (DWORD index = 0;; ++index) {
    char value[256];
    DWORD valueLen = sizeof value;
    BYTE data[256];
    DWORD dataLen = sizeof data - 1;
    DWORD type = 0;
    const LONG rc = RegEnumValueA(key, index, value, &valueLen, nullptr, &type, data, &dataLen);
    if (rc == ERROR_MORE_DATA) continue;  // a name too long for a port: not one of ours
    if (rc != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    data[dataLen] = 0;  // the stored string need not end with a zero byte
    devices.emplace(reinterpret_cast<const char*>(data), std::string(value, valueLen));
  }
  RegCloseKey(key);
  return devices;
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

std::vector<TComPortInfo> EnumerateComPortInfo() {
  const std::map<std::string, std::string> devices = DriverDeviceNames();
  std::vector<TComPortInfo> ports;
  for (std::string& name : EnumerateComPorts()) {
    std::string description = "\\\\.\\" + name;
    if (const auto it = devices.find(name); it != devices.end() && !it->second.empty())
      description += " — " + it->second;
    ports.push_back({std::move(name), std::move(description)});
  }
  return ports;
}

}  // namespace serial
