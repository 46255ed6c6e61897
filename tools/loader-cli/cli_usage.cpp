#include "cli_usage.h"

#include <algorithm>
#include <array>
#include <set>

#include "cli_commands.h"

namespace cli {

namespace {

constexpr unsigned kAll = kForConvert | kForFlash | kForPorts;

constexpr std::array kOptions = {
    TOptionSpec{TOptionId::opPort, 'p', "port", "PORT", kForFlash,
                "PORT from 'loader-cli ports' or a path; repeatable"},
    TOptionSpec{TOptionId::opTimeout, 0, "timeout", "SECONDS", kForFlash,
                "wait for each expected byte (30; 0: for ever)"},
    TOptionSpec{TOptionId::opQuiet, 'q', "quiet", nullptr, kForFlash,
                "print only errors and the result, not the prompt"},
    TOptionSpec{TOptionId::opVerbose, 'v', "verbose", nullptr, kForFlash,
                "print every packet as well"},
    TOptionSpec{TOptionId::opDryRun, 0, "dry-run", nullptr, kForFlash,
                "convert, open and close each PORT; send nothing"},
    TOptionSpec{TOptionId::opJson, 0, "json", nullptr, kForFlash,
                "each port's result as a JSON line on standard output"},
    TOptionSpec{TOptionId::opJson, 0, "json", nullptr, kForPorts,
                "a JSON object a line: port and description"},
    TOptionSpec{TOptionId::opTrace, 0, "trace", "FILE", kForFlash,
                "write every byte sent and received into FILE"},
    TOptionSpec{TOptionId::opRepeat, 0, "repeat", nullptr, kForFlash,
                "after each device wait for the next, until Ctrl-C"},
    TOptionSpec{TOptionId::opAllowEmpty, 0, "allow-empty", nullptr, kForFlash,
                "send one block of zeros for a FILE.hex without data"},
    TOptionSpec{TOptionId::opIgnoreChecksums, 0, "ignore-checksums", nullptr,
                kForConvert | kForFlash, "take records with a wrong checksum or length"},
    TOptionSpec{TOptionId::opOutput, 'o', "output", "FOLDER", kForConvert,
                "write the image into FOLDER, not the current folder"},
    TOptionSpec{TOptionId::opLong, 'l', "long", nullptr, kForPorts, "describe each port too"},
    TOptionSpec{TOptionId::opHelp, 'h', "help", nullptr, kAll, "print this help and exit"},
};

struct TCommandText {
  const char* name;
  const char* synopsis;
  const char* summary;
};

constexpr std::array kCommands = {
    TCommandText{"convert", "[OPTION...] FILE.hex",
                 "convert FILE.hex into FILE.BIN and print its name"},
    TCommandText{"flash", "-p PORT [-p PORT...] [OPTION...] FILE.hex",
                 "write FILE.hex into the device on each PORT, all at once"},
    TCommandText{"ports", "[-l | --json]", "list the serial ports, as the window's menu does"},
};

constexpr const char* kExitStatus =
    "exit status:\n"
    "  0    done (on every port)\n"
    "  1    file, conversion or port error\n"
    "  2    wrong reply from the device\n"
    "  3    no reply within the time-out\n"
    "  64   usage error\n"
    "  130  interrupted\n"
    "With several ports, the highest of their statuses.\n";

const TOptionSpec* FindShort(char name, unsigned command) {
  for (const TOptionSpec& o : kOptions) {
    if (o.shortName == name && (o.commands & command) != 0) return &o;
  }
  return nullptr;
}

const TOptionSpec* FindLong(const std::string& name, unsigned command) {
  for (const TOptionSpec& o : kOptions) {
    if (name == o.longName && (o.commands & command) != 0) return &o;
  }
  return nullptr;
}

std::string OptionLine(const TOptionSpec& o) {
  std::string left = o.shortName != 0 ? std::string("  -") + o.shortName + ", " : "      ";
  left += std::string("--") + o.longName;
  if (o.argument != nullptr) left += std::string("=") + o.argument;
  constexpr std::size_t kColumn = 26;
  left += left.size() < kColumn ? std::string(kColumn - left.size(), ' ') : "  ";
  return left + o.text + '\n';
}

std::string OptionLines(unsigned command) {
  std::string text;
  std::set<std::string> shown;
  for (const TOptionSpec& o : kOptions) {
    if ((o.commands & command) == 0 || !shown.insert(o.longName).second) continue;
    text += OptionLine(o);
  }
  return text;
}

}  // namespace

std::span<const TOptionSpec> Options() {
  return kOptions;
}

unsigned CommandBit(const std::string& command) {
  if (command == "convert") return kForConvert;
  if (command == "flash") return kForFlash;
  if (command == "ports") return kForPorts;
  return 0;
}

std::vector<TArgument> SplitArguments(const std::string& command,
                                      const std::vector<std::string>& args) {
  const unsigned bit = CommandBit(command);
  auto unknown = [&command](const std::string& spelling) {
    return EUsageError(command + " has no option '" + spelling + "'");
  };
  std::vector<TArgument> out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      for (++i; i < args.size(); ++i) out.push_back({nullptr, args[i], {}});
      break;
    }
    if (a.size() < 2 || a[0] != '-') {
      out.push_back({nullptr, a, {}});
      continue;
    }
    if (a[1] == '-') {
      const std::size_t eq = a.find('=');
      const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      const TOptionSpec* option = FindLong(name, bit);
      const std::string spelling = "--" + name;
      if (option == nullptr) throw unknown(spelling);
      if (option->argument == nullptr) {
        if (eq != std::string::npos) throw EUsageError(spelling + " takes no value");
        out.push_back({option, {}, spelling});
      } else if (eq != std::string::npos) {
        out.push_back({option, a.substr(eq + 1), spelling});
      } else {
        if (i + 1 >= args.size()) throw EUsageError(spelling + " needs " + option->argument);
        out.push_back({option, args[++i], spelling});
      }
      continue;
    }
    // One or more short options: flags, the last one perhaps with its value attached.
    for (std::size_t k = 1; k < a.size(); ++k) {
      const std::string spelling = std::string("-") + a[k];
      const TOptionSpec* option = FindShort(a[k], bit);
      if (option == nullptr) throw unknown(spelling);
      if (option->argument == nullptr) {
        out.push_back({option, {}, spelling});
        continue;
      }
      if (k + 1 < a.size()) {
        out.push_back({option, a.substr(k + 1), spelling});
      } else {
        if (i + 1 >= args.size()) throw EUsageError(spelling + " needs " + option->argument);
        out.push_back({option, args[++i], spelling});
      }
      break;
    }
  }
  return out;
}

std::string UsageLines(const std::string& command) {
  std::string text;
  for (const TCommandText& c : kCommands) {
    if (CommandBit(command) != 0 && command != c.name) continue;
    text += std::string(text.empty() ? "usage: " : "       ") + "loader-cli " + c.name + ' ' +
            c.synopsis + '\n';
  }
  if (CommandBit(command) == 0) text += "       loader-cli --help | --version\n";
  return text;
}

std::string UsageText(const std::string& command) {
  const unsigned bit = CommandBit(command);
  std::string text = UsageLines(command) + '\n';
  if (bit == 0) {
    text +=
        "Writes the firmware image of an Intel HEX file into a device whose boot code\n"
        "answers on a serial port.\n\ncommands:\n";
    for (const TCommandText& c : kCommands) {
      text += std::string("  ") + c.name + std::string(9 - std::string(c.name).size(), ' ') +
              c.summary + '\n';
    }
    text += "\noptions (see 'loader-cli COMMAND --help' for which command takes which):\n" +
            OptionLines(kForConvert | kForFlash | kForPorts) +
            OptionLine({TOptionId::opHelp, 0, "version", nullptr, 0, "print the version and exit"});
  } else {
    for (const TCommandText& c : kCommands) {
      if (command != c.name) continue;
      std::string summary = c.summary;
      summary[0] = static_cast<char>(summary[0] - 'a' + 'A');
      text += summary + ".\n";
    }
    text += "\noptions:\n" + OptionLines(bit);
  }
  if (bit == kForPorts) return text;
  return text + '\n' + kExitStatus;
}

}  // namespace cli
