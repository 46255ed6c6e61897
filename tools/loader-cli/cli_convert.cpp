#include <atomic>
#include <filesystem>

#include "cli_commands.h"
#include "cli_platform.h"
#include "oh2b/oh2b.h"

namespace cli {

int ConvertHexFile(const TCommand& command, std::ostream& err, std::string& image) {
  const std::string& file = command.file;
  // Ctrl-C cancels the conversion, which then leaves nothing half-written behind.
  std::atomic<bool> interrupted{false};
  TInterruptWatch interrupts([&interrupted] { interrupted = true; });
  try {
    std::error_code ec;
    image =
        std::filesystem::exists(file, ec)
            ? oh2b::HexToBin(file, oh2b::THexOptions{command.checkRecords,
                                                     [&interrupted] { return interrupted.load(); }})
            : "";
    interrupts.Stop();
    // The converter answers a missing file with no name at all.
    if (image.empty()) {
      err << MissingFileText(file) << '\n';
      return kExitFailure;
    }
    return kExitOk;
  } catch (const oh2b::EConvertCancelled&) {
    interrupts.Stop();
    err << "loader-cli: interrupted; nothing written" << std::endl;
    return kExitInterrupted;
  } catch (const std::exception& e) {
    interrupts.Stop();
    err << ConversionErrorText(file, e) << '\n';
    return kExitFailure;
  }
}

int RunConvert(const TCommand& command, std::ostream& out, std::ostream& err) {
  std::string image;
  const int status = ConvertHexFile(command, err, image);
  if (status == kExitOk) out << image << '\n';
  return status;
}

}  // namespace cli
