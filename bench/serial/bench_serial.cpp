// Serial line figures, measured on the simulator's side of a pseudo-terminal:
//  (a) the loader's turnaround, from the device's reply being written to the first byte of
//      the loader's next packet arriving, p50/p99 over a 64 KiB transfer; the peer is a
//      bare loop in this process that does the same exchange with blocking read/write,
//      the floor that the pseudo-terminal and the scheduler allow;
//  (b) a transfer with every byte paced at 10400 bit/s: the ideal line time of the bytes
//      on the line over the time they took (100 % = the line never idles).
// Targets: (a) p99 < 1 ms; (b) >= 98 %.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

using namespace std::chrono_literals;
using e2e::TChild;
using e2e::TSpawnOptions;
using e2e::TTempDir;

struct TStats {
  std::vector<double> turnaroundUs;
  double lineBytes = 0;
  double lineNs = 0;
  double byteNs = 0;
};

TStats ReadStats(const std::string& path) {
  TStats s;
  std::istringstream in(e2e::ReadFile(path));
  std::string key;
  double value = 0;
  while (in >> key >> value) {
    if (key == "turnaround_ns") s.turnaroundUs.push_back(value / 1000.0);
    if (key == "line_bytes") s.lineBytes = value;
    if (key == "line_ns") s.lineNs = value;
    if (key == "byte_ns") s.byteNs = value;
  }
  std::sort(s.turnaroundUs.begin(), s.turnaroundUs.end());
  return s;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto i = static_cast<std::size_t>(p / 100.0 * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(i, sorted.size() - 1)];
}

std::vector<std::uint8_t> Image(std::size_t size) {
  std::mt19937 rng(42);
  std::vector<std::uint8_t> image(size);
  for (auto& b : image) b = static_cast<std::uint8_t>(rng());
  return image;
}

// Starts the simulator; returns its terminal's path.
std::unique_ptr<TChild> StartSim(const TTempDir& dir, std::vector<std::string> args,
                                 std::string& path) {
  args.insert(args.begin(), BOOTSIM_PATH);
  auto sim =
      std::make_unique<TChild>(args, TSpawnOptions{dir.Path().string(), true, dir.File("sim.err")});
  path = sim->FirstLine(10s);
  if (path.empty()) throw std::runtime_error("bootsim did not start: " + sim->Errors());
  return sim;
}

// The loader under test: loader-cli flash, as an operator runs it.
TStats RunLoader(const TTempDir& dir, std::size_t size, bool paced) {
  e2e::WriteFile(dir.File("bench.hex"), e2e::IntelHex(Image(size)));
  std::vector<std::string> simArgs = {"--once", "--no-publish", "--stats", "stats.txt"};
  if (paced) simArgs.push_back("--pace");
  std::string path;
  auto sim = StartSim(dir, simArgs, path);
  TChild cli({LOADER_CLI_PATH, "flash", "--port", path, "--timeout", "10", "bench.hex"},
             TSpawnOptions{dir.Path().string(), false, dir.File("cli.err")});
  if (!cli.WaitForOutput("\n", 30s)) throw std::runtime_error("loader-cli: " + cli.Errors());
  sim->WriteStdin("p");
  const int status = cli.Wait(600s);
  if (status != 0) throw std::runtime_error("loader-cli failed: " + cli.Errors() + sim->Errors());
  if (sim->Wait(30s) != 0) throw std::runtime_error("bootsim: " + sim->Errors());
  return ReadStats(dir.File("stats.txt"));
}

// The peer: the same exchange from a bare blocking loop, no threads and no hand-off.
TStats RunBareLoop(const TTempDir& dir, std::size_t size) {
  std::string path;
  auto sim = StartSim(dir, {"--once", "--no-publish", "--stats", "bare.txt"}, path);
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) throw std::runtime_error("open " + path + ": " + std::strerror(errno));
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  auto readN = [fd](std::size_t n) {
    std::uint8_t buf[512];
    std::size_t got = 0;
    std::uint8_t last = 0;
    while (got < n) {
      const ssize_t r = read(fd, buf, std::min(sizeof buf, n - got));
      if (r <= 0) throw std::runtime_error("bare loop: the line went away");
      got += static_cast<std::size_t>(r);
      last = buf[r - 1];
    }
    return last;
  };
  auto exchange = [&](const std::vector<std::uint8_t>& packet, bool reply) {
    if (write(fd, packet.data(), packet.size()) != static_cast<ssize_t>(packet.size())) {
      throw std::runtime_error("bare loop: write failed");
    }
    readN(packet.size() + (reply ? 1 : 0));
  };
  sim->WriteStdin("p");
  readN(1);
  exchange({0x55, 0x33, 0xCC}, true);
  const std::vector<std::uint8_t> image = Image(size);
  for (std::size_t block = 0; block <= size / 128; ++block) {
    const auto address = static_cast<std::uint16_t>(block * 128);
    const std::uint8_t hi = static_cast<std::uint8_t>(address >> 8);
    const std::uint8_t lo = static_cast<std::uint8_t>(address);
    if (block % 4 == 0) exchange({0x11, hi, lo}, true);
    std::vector<std::uint8_t> packet = {0x22, hi, lo};
    packet.resize(131, 0);
    for (std::size_t i = 0; i < 128 && block * 128 + i < size; ++i)
      packet[3 + i] = image[block * 128 + i];
    exchange(packet, true);
  }
  exchange({0x99, 0x00, 0x00}, false);
  close(fd);
  if (sim->Wait(30s) != 0) throw std::runtime_error("bootsim: " + sim->Errors());
  return ReadStats(dir.File("bare.txt"));
}

void PrintTurnaround(const char* who, const TStats& s) {
  std::printf("  %-26s n=%zu  p50 %7.1f us  p99 %7.1f us  max %7.1f us\n", who,
              s.turnaroundUs.size(), Percentile(s.turnaroundUs, 50), Percentile(s.turnaroundUs, 99),
              s.turnaroundUs.empty() ? 0.0 : s.turnaroundUs.back());
}

void Pool(TStats& into, const TStats& from) {
  into.turnaroundUs.insert(into.turnaroundUs.end(), from.turnaroundUs.begin(),
                           from.turnaroundUs.end());
  std::sort(into.turnaroundUs.begin(), into.turnaroundUs.end());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t pacedKiB = 8;
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--paced-kib") == 0 && i + 1 < argc) {
      pacedKiB = static_cast<std::size_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: bench_serial [--runs N] [--paced-kib N]   (defaults 3, 8)\n");
      return 64;
    }
  }
  try {
    TTempDir dir;
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) > 0) {
      std::printf("load average %.2f (figures below are only as quiet as the machine)\n", load[0]);
    }
    std::printf(
        "(a) turnaround over a 64 KiB transfer (reply written -> next packet's first byte),"
        " %d runs each, alternating\n",
        runs);
    TStats loader;
    TStats bare;
    for (int r = 0; r < runs; ++r) {
      Pool(loader, RunLoader(dir, 64 * 1024, false));
      Pool(bare, RunBareLoop(dir, 64 * 1024));
    }
    PrintTurnaround("loader-cli (engine+serial)", loader);
    PrintTurnaround("bare blocking loop (peer)", bare);
    const double p99 = Percentile(loader.turnaroundUs, 99);
    std::printf("  loader/peer ratio: p50 %.2f  p99 %.2f\n",
                Percentile(loader.turnaroundUs, 50) / Percentile(bare.turnaroundUs, 50),
                p99 / Percentile(bare.turnaroundUs, 99));
    std::printf("  target p99 < 1000 us: %s\n", p99 < 1000 ? "met" : "NOT met");

    std::printf("(b) %zu KiB transfer paced at 10400 bit/s (10 bits a byte)\n", pacedKiB);
    const TStats paced = RunLoader(dir, pacedKiB * 1024, true);
    const double ideal = paced.lineBytes * paced.byteNs;
    const double ratio = paced.lineNs > 0 ? ideal / paced.lineNs : 0;
    std::printf(
        "  %.0f bytes on the line, ideal %.3f s, measured %.3f s: %.2f %% of the line limit\n",
        paced.lineBytes, ideal / 1e9, paced.lineNs / 1e9, ratio * 100);
    PrintTurnaround("loader-cli, paced", paced);
    std::printf("  target >= 98 %%: %s\n", ratio >= 0.98 ? "met" : "NOT met");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_serial: %s\n", e.what());
    return 1;
  }
}
