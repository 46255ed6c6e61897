#include "bootsim_options.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace bootsim {

const char* const kUsageText =
    "usage: bootsim [options]\n"
    "       bootsim --help | --version\n"
    "Plays a device's boot code and its one-wire line (with echo) on a pseudo-terminal.\n"
    "Prints the terminal's path on the first line of standard output and publishes it\n"
    "as bootsimN for the loader's port list.\n"
    "\n"
    "Power-on (the device announces itself with 0x55):\n"
    "  a key on standard input, or SIGUSR1      once each time\n"
    "  --announce-at-start                      once at start\n"
    "  --announce-every MS                      every MS ms until the loader answers; an\n"
    "                                           unread 0x55 is dropped first (a line\n"
    "                                           keeps nothing), one that was read gets\n"
    "                                           one more period for its answer\n"
    "Session:\n"
    "  --once             exit after the finish command (status 0 when the protocol was\n"
    "                     clean) or at the first protocol violation (status 1)\n"
    "  --keep-going       after the finish command, power-cycle and announce again\n"
    "  --out FILE         after each finish command write the data blocks received, in\n"
    "                     order, 128 bytes each, including the loader's closing short or\n"
    "                     empty block (so the image followed by zeros up to the next\n"
    "                     multiple of 128, plus 128 zeros when the image already is one)\n"
    "  --stats FILE       at exit write turnaround times (reply written -> first byte of\n"
    "                     the next packet) and the line figures of the transfer\n"
    "  --pace             deliver every byte at 10400 bit/s (10 bits a byte)\n"
    "  --no-publish       do not publish the port\n"
    "  --publish-name N   publish as N instead of the first free bootsimN\n"
    "Faults:\n"
    "  --wrong-sum-at N         answer block N (0-based) with a wrong sum\n"
    "  --wrong-handshake-reply  answer the handshake with 0xA5 instead of 0xAA\n"
    "  --noise N                send N bytes of 0x00/0xFF ahead of each 0x55\n"
    "  --announce-burst N       announce with N bytes 0x55 in one write (default 1), as\n"
    "                           a device that repeats itself before the loader reads\n"
    "  --split                  send echo and reply as separate chunks, 3 ms apart\n"
    "  --delay MS               keep the line silent for MS ms before each reply\n"
    "  --silent-after N         answer nothing after block N (0-based)\n"
    "Exit status: 0 clean, 1 protocol violation, 2 system error, 64 usage error.\n";

namespace {

long ParseNumber(const std::string& option, const std::string& text, long max) {
  long value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value < 0 || value > max) {
    throw EUsageError(option + ": '" + text + "' is not a number from 0 to " + std::to_string(max));
  }
  return value;
}

}  // namespace

TSimOptions ParseOptions(const std::vector<std::string>& args) {
  TSimOptions o;
  constexpr long kMaxCount = std::numeric_limits<int>::max();
  constexpr long kMaxMs = 24L * 3600 * 1000;
  bool once = false;
  bool keepGoing = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw EUsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--out") {
      o.outFile = value();
    } else if (a == "--stats") {
      o.statsFile = value();
    } else if (a == "--announce-every") {
      const long ms = ParseNumber(a, value(), kMaxMs);
      if (ms == 0) throw EUsageError(a + ": the period must be at least 1 ms");
      o.announceEvery = std::chrono::milliseconds(ms);
    } else if (a == "--announce-at-start") {
      o.announceAtStart = true;
    } else if (a == "--once") {
      once = true;
    } else if (a == "--keep-going") {
      keepGoing = true;
    } else if (a == "--no-publish") {
      o.publish = false;
    } else if (a == "--publish-name") {
      o.publishName = value();
      // The readers skip names that begin with a full stop (entries half made) and a
      // listing one a line cannot hold a control character: such names are not published.
      if (o.publishName.empty() || o.publishName.find('/') != std::string::npos ||
          o.publishName.front() == '.' || std::ranges::any_of(o.publishName, [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == '\x7f';
          })) {
        throw EUsageError(a + ": '" + o.publishName + "' is not a plain file name");
      }
    } else if (a == "--wrong-sum-at") {
      o.device.wrongSumAt = static_cast<int>(ParseNumber(a, value(), kMaxCount));
    } else if (a == "--wrong-handshake-reply") {
      o.device.wrongHandshakeReply = true;
    } else if (a == "--noise") {
      o.device.noise = static_cast<int>(ParseNumber(a, value(), 1 << 20));
    } else if (a == "--announce-burst") {
      o.device.announceBurst = static_cast<int>(ParseNumber(a, value(), 4096));
      if (o.device.announceBurst == 0) throw EUsageError(a + ": at least one 0x55 is sent");
    } else if (a == "--split") {
      o.device.split = true;
    } else if (a == "--delay") {
      o.device.delay = std::chrono::milliseconds(ParseNumber(a, value(), kMaxMs));
    } else if (a == "--silent-after") {
      o.device.silentAfter = static_cast<int>(ParseNumber(a, value(), kMaxCount));
    } else if (a == "--pace") {
      o.pace = true;
    } else {
      throw EUsageError("unknown option '" + a + "'");
    }
  }
  if (once && keepGoing) throw EUsageError("--once and --keep-going exclude each other");
  if (once) o.afterFinish = TAfterFinish::afExit;
  if (keepGoing) o.afterFinish = TAfterFinish::afKeepGoing;
  if (!o.publish && !o.publishName.empty()) {
    throw EUsageError("--no-publish and --publish-name exclude each other");
  }
  return o;
}

}  // namespace bootsim
