// Times HexToBin against `objcopy -I ihex -O binary` on the same generated HEX file
// (16 MiB image, 32-byte records, an extended linear address record every 64 KiB),
// checks that both produce the same image, times the same conversion with the record
// checks that loader-cli runs (checksums, byte counts against line lengths) and prints
// what they cost, and times a sparse 128 MiB image. Also
// prints the longest stretch between two polls of the cancel hook, which bounds how long
// a cancelled conversion runs on.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "oh2b/oh2b.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kImageSize = 16u << 20;
constexpr int kRuns = 3;
constexpr int kCheckRuns = 9;

std::string MakeHex(std::uint32_t size) {
  std::mt19937 random(2024);
  std::vector<std::uint8_t> image(size);
  for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
  return testsupport::IntelHex(image, 32);
}

double BestSeconds(const std::function<bool()>& run) {
  double best = 1e30;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!run()) return -1;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

bool Convert(const std::string& hexPath, const std::string& expectedName,
             bool checkRecords = false) {
  try {
    return oh2b::HexToBin(hexPath, "", oh2b::THexOptions{checkRecords, {}}) == expectedName;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "HexToBin failed: %s\n", e.what());
    return false;
  }
}

}  // namespace

int main() {
  const testsupport::TTempWorkDir work("bench-hex2bin");
  const fs::path& dir = work.Path();
  int status = 0;

  // The sparse case first, so that the peak memory it prints is its own.
  {
    testsupport::WriteFile(dir / "sparse.hex", ":020000040800F2\r\n:0100000055AA\r\n");
    const double sparse =
        BestSeconds([&] { return Convert((dir / "sparse.hex").string(), "sparse.BIN"); });
    const auto size = fs::file_size("sparse.BIN");
    std::printf("sparse 128 MiB image: HexToBin %.3f s (best of %d), %ju bytes, peak RSS %ld KiB\n",
                sparse, kRuns, static_cast<std::uintmax_t>(size), PeakKiB());
    if (sparse < 0 || size != 134217729u) status = 1;
    fs::remove("sparse.BIN");
    fs::remove("sparse.BAK");
  }

  const std::string hexText = MakeHex(kImageSize);
  const fs::path hexPath = dir / "image.hex";
  testsupport::WriteFile(hexPath, hexText);
  std::printf("HEX file: %zu bytes, image %u bytes\n", hexText.size(), kImageSize);

  const double ours = BestSeconds([&] { return Convert(hexPath.string(), "image.BIN"); });
  std::printf("HexToBin:         %.3f s (best of %d)\n", ours, kRuns);
  if (ours < 0) status = 1;
  {
    // Runs alternate, so that a neighbour's load falls on both sides alike.
    double off = 1e30;
    double on = 1e30;
    for (int i = 0; i < kCheckRuns; ++i) {
      for (const bool checks : {false, true}) {
        const auto start = std::chrono::steady_clock::now();
        if (!Convert(hexPath.string(), "image.BIN", checks)) status = 1;
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        (checks ? on : off) = std::min(checks ? on : off, took.count());
      }
    }
    std::printf(
        "record checks:    off %.3f s, on %.3f s (best of %d, alternating), %+.1f%% "
        "(target <= +10%%)\n",
        off, on, kCheckRuns, (on / off - 1) * 100);
  }

  {
    using Clock = std::chrono::steady_clock;
    Clock::time_point last = Clock::now();
    Clock::duration longest{};
    unsigned polls = 0;
    const auto poll = [&] {
      const Clock::time_point now = Clock::now();
      longest = std::max(longest, now - last);
      last = now;
      ++polls;
      return false;
    };
    const bool done =
        oh2b::HexToBin(hexPath.string(), "", oh2b::THexOptions{false, poll}) == "image.BIN";
    poll();  // the stretch from the last poll to the return
    std::printf("cancel hook:      %u polls, longest stretch between two %.2f ms\n", polls,
                std::chrono::duration<double, std::milli>(longest).count());
    if (!done) status = 1;
  }

  const std::string command = "objcopy -I ihex -O binary '" + hexPath.string() + "' '" +
                              (dir / "objcopy.bin").string() + "'";
  const double theirs = BestSeconds([&] { return std::system(command.c_str()) == 0; });
  if (theirs < 0) {
    std::printf("objcopy: not available or failed\n");
    status = 1;
  } else {
    std::printf("objcopy:          %.3f s (best of %d)\n", theirs, kRuns);
    const bool same = testsupport::ReadFile("image.BIN") == testsupport::ReadFile("objcopy.bin");
    std::printf("images identical: %s\n", same ? "yes" : "NO");
    std::printf("ratio HexToBin/objcopy: %.3f (target <= 0.5, goal 0.25)\n", ours / theirs);
    if (!same) status = 1;
  }

  return status;
}
