// Port discovery on Windows: the COM devices in the DOS device list on the NT family, the
// open test on older systems. Each is described by its adapter's name as Device Manager
// shows it, or else by the driver's device name from the registry.
#include "serial/port_info_win32.h"

#include <windows.h>
// After windows.h, which they need; initguid.h makes devguid.h define the class GUIDs.
#include <devguid.h>
#include <initguid.h>
#include <setupapi.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/utf8_win32.h"
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

// A value of `key` as a string, or "" when it is missing or no string.
std::string StringValue(HKEY key, const char* name) {
  char data[256];
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return "";
  data[size] = 0;  // the stored string need not end with a zero byte
  return data;
}

// The names of the sub-keys of `key`.
std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD len = sizeof name;
    const LONG rc = RegEnumKeyExA(key, index, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;  // longer than any device or instance id
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name, len);
  }
  return names;
}

// The friendly name of each port the Ports class knows (data "USB Serial Port (COM3)" for
// COM3), as Device Manager lists them; empty where SetupAPI has none (Wine, old systems).
std::map<std::string, std::string> FriendlyNames() {
  std::map<std::string, std::string> names;
  const HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return names;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t port[64] = {};
    DWORD size = sizeof port - sizeof(wchar_t);  // room for the zero the value may lack
    DWORD type = 0;
    const LONG rc =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    wchar_t friendly[256] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE*>(friendly),
                                           sizeof friendly - sizeof(wchar_t), nullptr))
      continue;
    if (friendly[0] != 0) names.emplace(platform::WideToUtf8(port), platform::WideToUtf8(friendly));
  }
  SetupDiDestroyDeviceInfoList(set);
  return names;
}

}  // namespace

std::map<std::string, unsigned long> FtdiLatencyTimers(HKEY ftdiBus) {
  std::map<std::string, unsigned long> timers;
  for (const std::string& device : SubKeys(ftdiBus)) {
    HKEY deviceKey = nullptr;
    if (RegOpenKeyExA(ftdiBus, device.c_str(), 0, KEY_READ, &deviceKey) != ERROR_SUCCESS) continue;
    for (const std::string& instance : SubKeys(deviceKey)) {
      HKEY params = nullptr;
      const std::string path = instance + "\\Device Parameters";
      if (RegOpenKeyExA(deviceKey, path.c_str(), 0, KEY_READ, &params) != ERROR_SUCCESS) continue;
      const std::string port = StringValue(params, "PortName");
      DWORD latency = 0;
      DWORD size = sizeof latency;
      DWORD type = 0;
      if (!port.empty() &&
          RegQueryValueExA(params, "LatencyTimer", nullptr, &type,
                           reinterpret_cast<BYTE*>(&latency), &size) == ERROR_SUCCESS &&
          type == REG_DWORD && size == sizeof latency)
        timers[port] = latency;
      RegCloseKey(params);
    }
    RegCloseKey(deviceKey);
  }
  return timers;
}

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
  // The FTDI driver keeps each adapter's latency timer in its device parameters.
  std::map<std::string, unsigned long> latencies;
  HKEY ftdiBus = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS", 0, KEY_READ,
                    &ftdiBus) == ERROR_SUCCESS) {
    latencies = FtdiLatencyTimers(ftdiBus);
    RegCloseKey(ftdiBus);
  }
  const std::map<std::string, std::string> friendly = FriendlyNames();
  std::vector<TComPortInfo> ports;
  for (std::string& name : EnumerateComPorts()) {
    std::string description = "\\\\.\\" + name;
    if (const auto it = friendly.find(name); it != friendly.end()) {
      description = it->second;
    } else if (const auto it = devices.find(name); it != devices.end() && !it->second.empty()) {
      description += " — " + it->second;
    }
    if (const auto it = latencies.find(name); it != latencies.end()) {
      if (const std::string note = LatencyTimerNote(it->second); !note.empty())
        description += "; " + note;
    }
    ports.push_back({std::move(name), std::move(description)});
  }
  return ports;
}

}  // namespace serial
