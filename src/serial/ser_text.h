// The texts the serial component builds from patterns: its error messages and the device
// name from the saved DeviceName. Internal to the serial library.
#pragma once

#include <cstdint>
#include <string>

namespace serial {

// Puts `value` for the first "%d" and `text` for the first "%s" of a fixed message pattern.
std::string SerFormatError(const char* pattern, int value, const std::string& text);

// The device name `pattern` gives for port number `portNum`, in the printf manner: only the
// first integer directive (d, i, u, x, X, with flags, width and precision) takes the number,
// "%%" is a percent sign, and anything else stays as written.
std::string SerFormatDeviceName(const std::string& pattern, std::int32_t portNum);

}  // namespace serial
