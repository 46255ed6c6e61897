// The texts of loader-cli's error lines. Each names the file or the port it is about; the
// program's name goes in front when the line is printed, not in the JSON results.
#pragma once

#include <exception>
#include <string>

#include "engine/transfer_engine.h"

namespace cli {

inline constexpr const char* kProgramPrefix = "loader-cli: ";

// "PORT: <the error's text>." and, for a port that does not exist, where to find the
// names of those that do.
std::string PortErrorText(const std::string& port, const std::exception& error);

// A wrong reply as the window's status line gives it, in English but for the device
// error's own words: "Ошибка ответа: block 3 (0x0180), expected 0x5A, received 0x12".
std::string ReplyErrorText(const engine::TStopDetail& stop);

}  // namespace cli
