// loader-cli's options in one table: the parser reads its command line by it and --help
// prints it, so the two never differ.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace cli {

enum class TOptionId {
  opHelp,
  opPort,
  opTimeout,
  opQuiet,
  opVerbose,
  opDryRun,
  opJson,
  opTrace,
  opRepeat,
  opAllowEmpty,
  opIgnoreChecksums,
  opOutput,
  opLong,
};

// The commands an option belongs to, as bits.
inline constexpr unsigned kForConvert = 1;
inline constexpr unsigned kForFlash = 2;
inline constexpr unsigned kForPorts = 4;

struct TOptionSpec {
  TOptionId id;
  char shortName;        // 0: none
  const char* longName;  // without the dashes
  const char* argument;  // nullptr: takes no value
  unsigned commands;
  const char* text;  // one line of --help
};

std::span<const TOptionSpec> Options();

// The bit of a command ("convert", "flash", "ports"); 0 for any other word.
unsigned CommandBit(const std::string& command);

// One element of a command line after the options have been told apart: an option with
// its value, or an operand (option == nullptr).
struct TArgument {
  const TOptionSpec* option = nullptr;
  std::string value;     // the option's value, or the operand
  std::string spelling;  // the option as written ("-p", "--port"), for error texts
};

// Splits args (after the command word) as getopt_long does: "-pCOM3", "-p COM3",
// "--port=COM3", "--port COM3", bundled flags ("-lq"), and "--" ending the options.
// Only the options of `command` are known. Throws EUsageError.
std::vector<TArgument> SplitArguments(const std::string& command,
                                      const std::vector<std::string>& args);

// "usage: loader-cli flash -p PORT [-p PORT...] [OPTION...] FILE.hex\n": the command's
// usage line, or every command's for any other word.
std::string UsageLines(const std::string& command);

}  // namespace cli
