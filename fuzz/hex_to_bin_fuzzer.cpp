// Feeds arbitrary bytes to the HEX converter as a HEX file. The conversion runs in a private
// temporary folder that is the current directory, as the loader converts into its current
// directory (so give the fuzzer absolute paths). Each input must end in an image or in one of the
// converter's own errors; anything else (a crash, a sanitizer report, a foreign exception, a hang)
// is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_limits.h"
#include "oh2b/oh2b.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kHexName = "input.hex";
constexpr const char* kImageName = "input.BIN";
constexpr const char* kBackupName = "input.BAK";

// One address record asks for an image of up to 4 GiB of 0xFF; writing it would cost
// seconds and gigabytes per input. Past this size writes fail, and the converter must turn
// that into its write error.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{4} << 20;

std::unique_ptr<testsupport::TTempWorkDir> workDir;

// The input goes too: rewriting a file in place can make the file system flush it to disk
// on every input.
void RemoveFiles() {
  std::error_code ignored;
  fs::remove(kHexName, ignored);
  fs::remove(kImageName, ignored);
  fs::remove(kBackupName, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  workDir = std::make_unique<testsupport::TTempWorkDir>("hex-fuzz");
  // Released at exit, which brings back the previous current directory and removes the
  // folder with whatever the last input left in it.
  std::atexit([] { workDir.reset(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Here, not at initialisation: libFuzzer turns an exceeded file size into a fault with a
  // handler of its own, installed after initialisation.
  static const bool limited = (fuzzsupport::LimitFileSize(kMaxFileBytes), true);
  (void)limited;
  testsupport::WriteFile(kHexName, std::string(reinterpret_cast<const char*>(data), size));
  try {
    const std::string image = oh2b::HexToBin(kHexName, "");
    if (image != kImageName || !fs::is_regular_file(image)) {
      std::fprintf(stderr, "HexToBin returned \"%s\" without writing %s\n", image.c_str(),
                   kImageName);
      std::abort();
    }
  } catch (const oh2b::EConvertError&) {
  } catch (const oh2b::ERecordError&) {
  } catch (const oh2b::EWriteError&) {
    // Expected only from the file size limit above.
  }
  RemoveFiles();
  return 0;
}
