#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "cli_commands.h"
#include "oh2b/oh2b.h"
#include "platform/file.h"
#include "session/error_text.h"

namespace cli {

namespace {

constexpr const char* kConvertSynopsis =
    "loader-cli convert [--ignore-checksums] [-o FOLDER] FILE.hex\n";
constexpr const char* kFlashSynopsis =
    "loader-cli flash -p PORT [-p PORT...] [--timeout SECONDS] [--ignore-checksums]\n"
    "                        [-q | -v] [--dry-run | --json] [--trace TRACE.txt]\n"
    "                        [--allow-empty] [--repeat] FILE.hex\n";
constexpr const char* kPortsSynopsis = "loader-cli ports [--long | --json]\n";

constexpr const char* kConvertText =
    "convert  writes FILE.BIN into the current directory, or with -o, --output into\n"
    "         FOLDER (an earlier one becomes FILE.BAK), and prints its name\n";
constexpr const char* kFlashText =
    "flash    converts FILE.hex, opens PORT (a name from 'ports' or a device path), waits\n"
    "         for the device to be switched on and writes the image into it; -p, --port\n"
    "         may be given several times to flash that many devices at once, each on its\n"
    "         own, with a summary table at the end; -q prints only errors and the result,\n"
    "         -v also each packet; --json writes each port's result to standard output as\n"
    "         a line of JSON (port, file, image_bytes, blocks, seconds, outcome, error,\n"
    "         exit_code), all else to standard error; --trace writes every byte sent and\n"
    "         received to TRACE.txt, a line per packet and per run of received bytes:\n"
    "         microseconds, port, what the loader did with them (sent, echo, reply,\n"
    "         ignored) and the bytes in hex; --timeout is how long to wait for each\n"
    "         expected byte (default 30, 0 for ever; once the transfer has begun the\n"
    "         device must answer within 5 s); --dry-run converts and checks FILE.hex and\n"
    "         prints what would be sent, opening no port; the image lives in a private\n"
    "         temporary folder, removed at the end: flash leaves no files behind; a\n"
    "         FILE.hex without data (empty, zeroed, not HEX) is refused unless\n"
    "         --allow-empty, which sends one block of zeros; --repeat waits, after each\n"
    "         device, for the next one switched on at that port and flashes it too,\n"
    "         board after board, until Ctrl-C (between boards this is a clean stop)\n";
constexpr const char* kPortsText =
    "ports    lists the serial ports, as the window's port menu does; -l, --long adds\n"
    "         a tab and a description of each (device path, adapter); --json writes one\n"
    "         object a line: {\"port\":..., \"description\":...}\n";
constexpr const char* kChecksText =
    "convert and flash check every record of FILE.hex (its byte count against its length,\n"
    "its checksum) and that the file is whole (an end-of-file record, no NUL byte, no record\n"
    "line that begins with a blank, a tab or a byte-order mark), and stop at the first fault,\n"
    "naming file and line; --ignore-checksums converts hand-edited files as the window does\n";
constexpr const char* kStatusText =
    "exit status: 0 done (on every port), 1 file, conversion or port error, 2 wrong reply\n"
    "from the device, 3 no reply within the time-out, 64 usage error, 130 interrupted; with\n"
    "several ports the highest of their statuses\n";

}  // namespace

std::string UsageText(const std::string& command) {
  const std::string usage = "usage: ";
  if (command == "convert") {
    return usage + kConvertSynopsis + '\n' + kConvertText + '\n' + kChecksText;
  }
  if (command == "flash") {
    return usage + kFlashSynopsis + '\n' + kFlashText + '\n' + kChecksText + '\n' + kStatusText;
  }
  if (command == "ports") return usage + kPortsSynopsis + '\n' + kPortsText;
  const std::string indent = "       ";
  return usage + kConvertSynopsis + indent + kFlashSynopsis + indent + kPortsSynopsis + indent +
         "loader-cli --version\n\n" + kConvertText + kFlashText + kPortsText + '\n' + kChecksText +
         '\n' + kStatusText;
}

namespace {

std::chrono::seconds ParseSeconds(const std::string& text) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  // A day is far beyond any transfer; larger numbers are typing errors.
  if (text.empty() || ec != std::errc() || ptr != end || value < 0 || value > 86400) {
    throw EUsageError("--timeout: '" + text + "' is not a number of seconds from 0 to 86400");
  }
  return std::chrono::seconds(value);
}

}  // namespace

TCommand ParseCommandLine(const std::vector<std::string>& args) {
  TCommand c;
  if (args.empty()) throw EUsageError("no command given");
  const std::string& verb = args[0];
  if (verb == "--help" || verb == "-h" || verb == "help") return c;
  if (verb != "convert" && verb != "flash" && verb != "ports" && verb != "--version") {
    throw EUsageError("unknown command '" + verb + "'");
  }
  // "flash --help": that command's usage, whatever else is on the line.
  for (const std::string& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      c.helpTopic = verb;
      return c;
    }
  }
  if (verb == "--version") {
    if (args.size() > 1) throw EUsageError("--version takes no arguments");
    c.kind = TCommand::TKind::ckVersion;
    return c;
  }

  std::vector<std::string> files;
  bool portGiven = false;
  bool timeoutGiven = false;
  bool longGiven = false;
  bool ignoreGiven = false;
  bool dryRunGiven = false;
  bool verbosityGiven = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const std::string& name) -> std::string {
      if (a.size() > name.size() && a.compare(0, name.size() + 1, name + "=") == 0) {
        return a.substr(name.size() + 1);
      }
      if (i + 1 >= args.size()) throw EUsageError(name + " needs a value");
      return args[++i];
    };
    if (a == "-p" || a == "--port" || a.rfind("--port=", 0) == 0) {
      const std::string port = value(a == "-p" ? "-p" : "--port");
      if (port.empty()) throw EUsageError("--port needs a port name");
      // Two transfers on one line would corrupt each other's packets.
      if (std::find(c.ports.begin(), c.ports.end(), port) != c.ports.end()) {
        throw EUsageError("port '" + port + "' given twice");
      }
      c.ports.push_back(port);
      portGiven = true;
    } else if (a == "--timeout" || a.rfind("--timeout=", 0) == 0) {
      c.timeout = ParseSeconds(value("--timeout"));
      timeoutGiven = true;
    } else if (a == "-l" || a == "--long") {
      longGiven = true;
    } else if (a == "--ignore-checksums") {
      ignoreGiven = true;
    } else if (a == "--dry-run") {
      dryRunGiven = true;
    } else if (a == "--trace" || a.rfind("--trace=", 0) == 0) {
      c.trace = value("--trace");
      if (c.trace.empty()) throw EUsageError("--trace needs a file name");
    } else if (a == "-q" || a == "--quiet" || a == "-v" || a == "--verbose") {
      const auto level = a[1] == 'q' || a == "--quiet" ? TCommand::TVerbosity::vbQuiet
                                                       : TCommand::TVerbosity::vbVerbose;
      if (verbosityGiven && c.verbosity != level) throw EUsageError("-q and -v exclude each other");
      c.verbosity = level;
      verbosityGiven = true;
    } else if (a == "-o" || a == "--output" || a.rfind("--output=", 0) == 0) {
      c.outputFolder = value(a == "-o" ? "-o" : "--output");
      if (c.outputFolder.empty()) throw EUsageError("-o needs a folder");
    } else if (a == "--repeat") {
      c.repeat = true;
    } else if (a == "--allow-empty") {
      c.allowEmpty = true;
    } else if (a == "--json") {
      c.json = true;
    } else if (a == "--") {
      files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      throw EUsageError("unknown option '" + a + "'");
    } else {
      files.push_back(a);
    }
  }

  if (verb == "convert" || verb == "flash") {
    if (files.size() != 1) throw EUsageError(verb + " takes exactly one HEX file");
    c.file = files[0];
  } else if (!files.empty()) {
    throw EUsageError("unexpected argument '" + files[0] + "'");
  }
  if (c.json && verb != "flash" && verb != "ports") {
    throw EUsageError("--json belongs to flash and ports");
  }
  if (c.repeat && (verb != "flash" || dryRunGiven)) {
    throw EUsageError("--repeat belongs to flash, and --dry-run sends nothing");
  }
  if (c.allowEmpty && verb != "flash") throw EUsageError("--allow-empty belongs to flash");
  if (!c.outputFolder.empty() && verb != "convert") throw EUsageError("-o belongs to convert");
  if (verbosityGiven && verb != "flash") throw EUsageError("-q and -v belong to flash");
  if (!c.trace.empty() && (verb != "flash" || dryRunGiven)) {
    throw EUsageError("--trace belongs to flash, and --dry-run sends nothing");
  }
  if (verb == "convert") {
    if (portGiven || timeoutGiven || longGiven || dryRunGiven) {
      throw EUsageError("convert takes no option but --ignore-checksums and -o");
    }
    c.kind = TCommand::TKind::ckConvert;
  } else if (verb == "flash") {
    if (!portGiven) throw EUsageError("flash needs --port PORT");
    if (longGiven) throw EUsageError("--long belongs to ports");
    if (c.json && dryRunGiven) throw EUsageError("--json reports transfers; --dry-run has none");
    c.kind = TCommand::TKind::ckFlash;
  } else if (verb == "ports") {
    if (portGiven || timeoutGiven || ignoreGiven || dryRunGiven) {
      throw EUsageError("ports takes no option but --long and --json");
    }
    c.kind = TCommand::TKind::ckPorts;
    c.longListing = longGiven;
  } else {
    throw EUsageError("unknown command '" + verb + "'");
  }
  c.checkRecords = !ignoreGiven;
  c.dryRun = dryRunGiven;
  return c;
}

std::string ErrorText(const std::string& message) {
  return session::ErrorBoxText(message);
}

std::string ConversionErrorText(const std::string& file, const std::exception& error) {
  const auto* atLine = dynamic_cast<const oh2b::EHexLineError*>(&error);
  if (atLine == nullptr || atLine->Line() == 0) return ErrorText(error.what());
  return file + ":" + std::to_string(atLine->Line()) + ": " + ErrorText(atLine->Detail());
}

std::string MissingFileText(const std::string& path) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(path, ec);
  if (ec) full = path;
  return ErrorText("Cannot open file \"" + full.string() + "\". " +
                   platform::SystemErrorText(platform::NotFoundError()));
}

}  // namespace cli
