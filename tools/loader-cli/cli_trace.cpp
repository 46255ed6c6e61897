#include "cli_trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli_commands.h"

namespace cli {

namespace {

std::string SystemText() {
  return errno != 0 ? std::strerror(errno) : "";
}

}  // namespace

TByteTrace::TByteTrace(const std::string& path) : path_(path) {
  errno = 0;
  file_.open(PathOf(path), std::ios::binary | std::ios::trunc);
  if (!file_) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(PathOf(path), ec);
    throw ETraceFileError(
        ErrorText("Cannot open file \"" + (ec ? path : Utf8Of(full)) + "\". " + SystemText()));
  }
  file_ << "# loader-cli trace: microseconds, port, sent/echo/reply/ignored, bytes in hex\n";
  // A full disk shows now rather than after the transfer.
  Check();
}

std::string TraceLine(std::chrono::microseconds at, const std::string& port,
                      session::TByteDirection direction, const std::uint8_t* bytes,
                      std::size_t count) {
  static const char* const kNames[] = {"sent", "echo", "reply", "ignored"};
  char head[64];
  std::snprintf(head, sizeof head, "%10lld ", static_cast<long long>(at.count()));
  std::string line = head + port + ' ' + kNames[static_cast<int>(direction)];
  for (std::size_t i = 0; i < count; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
    line += hex;
  }
  return line;
}

void TByteTrace::Record(const std::string& port, session::TByteDirection direction,
                        const std::uint8_t* bytes, std::size_t count) {
  const auto at = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_);
  file_ << TraceLine(at, port, direction, bytes, count) << '\n';
}

void TByteTrace::Finish() {
  Check();
}

void TByteTrace::Check() {
  errno = 0;
  file_.flush();
  if (!file_) {
    throw ETraceFileError(ErrorText("Cannot write file \"" + path_ + "\". " + SystemText()));
  }
}

}  // namespace cli
