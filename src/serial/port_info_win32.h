// Windows port discovery's registry reading, open to its tests.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace serial {

// The latency timer of each FTDI adapter's port, in milliseconds, by port name (COM3), from
// the FTDI bus enumerator's key `ftdiBus`: device ids, their instances, and in each
// instance's "Device Parameters" the values PortName (string) and LatencyTimer (DWORD). An
// instance without both is left out.
std::map<std::string, unsigned long> FtdiLatencyTimers(HKEY ftdiBus);

}  // namespace serial
