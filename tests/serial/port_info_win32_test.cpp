// The FTDI latency timers as the Windows port discovery reads them from the registry, on a
// scratch key of the current user laid out as the FTDI bus enumerator's.
#include "serial/port_info_win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace serial {
namespace {

constexpr const char* kScratch = "Software\\loader-tests\\FTDIBUS";

struct Instance {
  const char* path;  // device id and instance, below the bus key
  const char* port;  // PortName, nullptr for none
  DWORD type;        // LatencyTimer's type, REG_NONE for none
  DWORD latency;
};

void Write(HKEY bus, const Instance& i) {
  HKEY params = nullptr;
  const std::string path = std::string(i.path) + "\\Device Parameters";
  ASSERT_EQ(RegCreateKeyExA(bus, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &params, nullptr),
            ERROR_SUCCESS);
  if (i.port)
    RegSetValueExA(params, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(i.port),
                   static_cast<DWORD>(std::strlen(i.port) + 1));
  if (i.type != REG_NONE)
    RegSetValueExA(params, "LatencyTimer", 0, i.type, reinterpret_cast<const BYTE*>(&i.latency),
                   sizeof i.latency);
  RegCloseKey(params);
}

TEST(FtdiLatencyTimers, ReadsEachInstancesPortAndTimer) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
  HKEY bus = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &bus, nullptr),
            ERROR_SUCCESS);
  const Instance instances[] = {
      {"VID_0403+PID_6001+A1A\\0000", "COM3", REG_DWORD, 16},
      {"VID_0403+PID_6001+A1A\\0001", "COM4", REG_DWORD, 1},
      {"VID_0403+PID_6015+B2A\\0000", "COM7", REG_DWORD, 2},
      {"VID_0403+PID_6015+C3A\\0000", nullptr, REG_DWORD, 16},  // no port: left out
      {"VID_0403+PID_6015+D4A\\0000", "COM9", REG_NONE, 0},     // no timer: left out
      {"VID_0403+PID_6015+E5A\\0000", "COM8", REG_BINARY, 16},  // not a DWORD: left out
  };
  for (const Instance& i : instances) Write(bus, i);
  const std::map<std::string, unsigned long> expected = {{"COM3", 16}, {"COM4", 1}, {"COM7", 2}};
  EXPECT_EQ(FtdiLatencyTimers(bus), expected);
  RegCloseKey(bus);
  RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
}

}  // namespace
}  // namespace serial
