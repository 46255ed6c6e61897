#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "cli_commands.h"
#include "cli_usage.h"
#include "oh2b/oh2b.h"
#include "platform/file.h"
#include "session/error_text.h"

namespace cli {

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
  bool longGiven = false;
  bool ignoreGiven = false;
  bool dryRunGiven = false;
  bool verbosityGiven = false;
  for (const TArgument& a : SplitArguments(verb, {args.begin() + 1, args.end()})) {
    if (a.option == nullptr) {
      files.push_back(a.value);
      continue;
    }
    switch (a.option->id) {
      case TOptionId::opPort:
        if (a.value.empty()) throw EUsageError(a.spelling + " needs a port name");
        // Two transfers on one line would corrupt each other's packets.
        if (std::find(c.ports.begin(), c.ports.end(), a.value) != c.ports.end()) {
          throw EUsageError("port '" + a.value + "' given twice");
        }
        c.ports.push_back(a.value);
        portGiven = true;
        break;
      case TOptionId::opTimeout:
        c.timeout = ParseSeconds(a.value);
        break;
      case TOptionId::opLong:
        longGiven = true;
        break;
      case TOptionId::opIgnoreChecksums:
        ignoreGiven = true;
        break;
      case TOptionId::opDryRun:
        dryRunGiven = true;
        break;
      case TOptionId::opTrace:
        c.trace = a.value;
        if (c.trace.empty()) throw EUsageError(a.spelling + " needs a file name");
        break;
      case TOptionId::opQuiet:
      case TOptionId::opVerbose: {
        const auto level = a.option->id == TOptionId::opQuiet ? TCommand::TVerbosity::vbQuiet
                                                              : TCommand::TVerbosity::vbVerbose;
        if (verbosityGiven && c.verbosity != level) {
          throw EUsageError("-q and -v exclude each other");
        }
        c.verbosity = level;
        verbosityGiven = true;
        break;
      }
      case TOptionId::opOutput:
        c.outputFolder = a.value;
        if (c.outputFolder.empty()) throw EUsageError(a.spelling + " needs a folder");
        break;
      case TOptionId::opRepeat:
        c.repeat = true;
        break;
      case TOptionId::opAllowEmpty:
        c.allowEmpty = true;
        break;
      case TOptionId::opJson:
        c.json = true;
        break;
      case TOptionId::opHelp:
        break;  // seen before the options were read
    }
  }

  if (verb == "convert" || verb == "flash") {
    if (files.size() != 1) throw EUsageError(verb + " takes exactly one HEX file");
    c.file = files[0];
  } else if (!files.empty()) {
    throw EUsageError("unexpected argument '" + files[0] + "'");
  }
  // Each option belongs to its commands (the table says which); what is left are
  // options that exclude each other.
  if (dryRunGiven && (c.repeat || !c.trace.empty() || c.json)) {
    throw EUsageError("--dry-run sends nothing: no --repeat, --trace or --json with it");
  }
  if (verb == "convert") {
    c.kind = TCommand::TKind::ckConvert;
  } else if (verb == "flash") {
    if (!portGiven) throw EUsageError("flash needs -p PORT");
    c.kind = TCommand::TKind::ckFlash;
  } else {
    c.kind = TCommand::TKind::ckPorts;
    c.longListing = longGiven;
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
  std::filesystem::path full = std::filesystem::absolute(PathOf(path), ec);
  if (ec) full = PathOf(path);
  return ErrorText("Cannot open file \"" + Utf8Of(full) + "\". " +
                   platform::SystemErrorText(platform::NotFoundError()));
}

}  // namespace cli
