// loader-cli: the loader's converter, engine and serial line without the window.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_names.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;     // file, conversion, port or line error
inline constexpr int kExitReplyError = 2;  // the device answered wrongly ("Ошибка ответа")
inline constexpr int kExitTimeout = 3;     // no expected byte within --timeout
inline constexpr int kExitUsage = 64;      // malformed command line
inline constexpr int kExitInterrupted = 130;

// The prompt shown when the loader starts waiting for the device.
inline constexpr const char* kPowerOnPrompt = "Включи питание";

class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCommand {
  enum class TKind { ckHelp, ckVersion, ckConvert, ckFlash, ckPorts };
  enum class TVerbosity { vbQuiet, vbNormal, vbVerbose };
  TKind kind = TKind::ckHelp;
  std::string helpTopic;  // help: the command asked about, empty for all
  std::string file;
  std::vector<std::string> ports;    // flash: one transfer per port, all at once
  std::chrono::seconds timeout{30};  // 0: wait for ever, as the window does
  bool longListing = false;          // ports: each name with its description
  bool checkRecords = true;          // convert, flash: off with --ignore-checksums
  bool dryRun = false;               // flash: convert and check, open no port
  std::string outputFolder;          // convert -o: where the image goes
  bool repeat = false;               // flash: board after board on each port until Ctrl-C
  bool allowEmpty = false;           // flash: an image of no bytes is not refused
  bool json = false;                 // flash: results as JSON on standard output
  std::string trace;                 // flash: the file for every byte on the lines
  TVerbosity verbosity = TVerbosity::vbNormal;  // flash: -q errors and result, -v each packet
};

// How one device's transfer ended.
struct TFlashResult {
  std::string port;
  std::string file;
  std::uint64_t imageBytes = 0;
  std::uint32_t blocks = 0;  // sent, kept after a failure has reset the progress
  double seconds = 0;        // from the transfer's first block
  std::string outcome;       // "done", "reply error", "no reply", "failed", "interrupted"
  std::string error;         // empty when done
  int status = kExitOk;
  std::optional<std::uint32_t> crc32;  // the image's, once converted
};

// Paths on the command line and from the converter are UTF-8.
using platform::PathOf;
using platform::Utf8Of;

// A CRC-32 as loader-cli and the window write it: "0x1A2B3C4D".
inline std::string CrcText(std::uint32_t crc32) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(crc32));
  return text;
}

// `text` as a JSON string, quotes included; UTF-8 passes unchanged.
std::string JsonString(std::string_view text);
// One line of --json output: an object of the result's fields.
std::string JsonResult(const TFlashResult& result);

// The usage of one command ("convert", "flash", "ports"), of all of them for any other.
std::string UsageText(const std::string& command = "");

// Throws EUsageError.
TCommand ParseCommandLine(const std::vector<std::string>& args);

// An error's message as the window shows it: a full stop is appended unless the text is
// empty or ends in a byte that sorts at or below '.'.
std::string ErrorText(const std::string& message);
// "Cannot open file "<full path>". <system text for a missing file>."
std::string MissingFileText(const std::string& path);
// A failed conversion of `file` as the user named it: "file:line: <text>." for an error at a
// line of the HEX file, as ErrorText otherwise.
std::string ConversionErrorText(const std::string& file, const std::exception& error);

// flash's images: a private temporary folder, removed with all in it when destroyed, so
// that flash leaves nothing in the current folder. Throws std::system_error.
class TScratchFolder {
 public:
  TScratchFolder();
  ~TScratchFolder();
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;
  // A new subfolder of it (one per port: each image its own file).
  std::filesystem::path NewSubfolder();

 private:
  std::filesystem::path path_;
  int subfolders_ = 0;
};

// Converts command.file, with its record checks unless they are off, into `folder` (the
// current directory when empty); Ctrl-C cancels. On failure prints the error and returns
// its exit status, else puts the image's path (`folder` and its name) into `image`, and its
// CRC-32 into `crc32` when given, and returns kExitOk. The process's current directory is
// never changed.
int ConvertHexFile(const TCommand& command, std::ostream& err, std::string& image,
                   const std::filesystem::path& folder = {}, std::uint32_t* crc32 = nullptr);

int RunConvert(const TCommand& command, std::ostream& out, std::ostream& err);
// Flashes every port of the command at once; 0 when all finished, else the worst status.
int RunFlash(const TCommand& command, std::ostream& out, std::ostream& err, bool errIsTerminal);
// flash --dry-run: opens each port and closes it again, sending nothing; prints an error
// line for each that cannot be opened. kExitOk when all could.
int CheckPorts(const std::vector<std::string>& ports, std::ostream& err);
// Names only, or with `longListing` "NAME<TAB>DESCRIPTION" lines.
// With no port at all says so on `err`.
int RunPorts(std::ostream& out, std::ostream& err, bool longListing, bool json = false);
// The listing of `rows` (name, description; descriptions empty for the short one).
int ListPorts(const std::vector<std::pair<std::string, std::string>>& rows, std::ostream& out,
              std::ostream& err, bool json);
// The long listing: names in a column as wide as the longest, then the descriptions.
std::string PortTable(const std::vector<std::pair<std::string, std::string>>& rows);

}  // namespace cli
