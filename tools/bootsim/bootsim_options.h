// Command-line options of the device simulator.
#pragma once

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "boot_device.h"

namespace bootsim {

// A malformed command line; the text says what is wrong.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TAfterFinish {
  afStay,       // default: the device runs its firmware; only a manual power-on restarts
  afExit,       // --once
  afKeepGoing,  // --keep-going: power-cycles itself, automatic announcements resume
};

struct TSimOptions {
  TDeviceOptions device;
  std::string outFile;    // --out: the received blocks, concatenated
  std::string statsFile;  // --stats: per-reply turnaround and line figures
  std::optional<std::chrono::milliseconds> announceEvery;
  bool announceAtStart = false;
  TAfterFinish afterFinish = TAfterFinish::afStay;
  bool publish = true;
  std::string publishName;  // empty: the first free "bootsimN"
  bool pace = false;        // 10400 bit/s, 10 bits a byte
  bool help = false;
  bool version = false;  // --version
};

// Parses argv[1..]; throws EUsageError.
TSimOptions ParseOptions(const std::vector<std::string>& args);

extern const char* const kUsageText;

}  // namespace bootsim
