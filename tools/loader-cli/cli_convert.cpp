#include <atomic>
#include <filesystem>

#include "cli_commands.h"
#include "cli_platform.h"
#include "oh2b/oh2b.h"

namespace cli {

int RunConvert(const std::string& file, std::ostream& out, std::ostream& err) {
  // Ctrl-C cancels the conversion, which then leaves nothing half-written behind.
  std::atomic<bool> interrupted{false};
  TInterruptWatch interrupts([&interrupted] { interrupted = true; });
  try {
    std::error_code ec;
    const std::string image =
        std::filesystem::exists(file, ec)
            ? oh2b::HexToBin(file, [&interrupted] { return interrupted.load(); })
            : "";
    interrupts.Stop();
    // The converter answers a missing file with no name at all.
    if (image.empty()) {
      err << MissingFileText(file) << '\n';
      return kExitFailure;
    }
    out << image << '\n';
    return kExitOk;
  } catch (const oh2b::EConvertCancelled&) {
    interrupts.Stop();
    err << "loader-cli: interrupted; nothing written" << std::endl;
    return kExitInterrupted;
  } catch (const std::exception& e) {
    interrupts.Stop();
    err << ErrorText(e.what()) << '\n';
    return kExitFailure;
  }
}

}  // namespace cli
