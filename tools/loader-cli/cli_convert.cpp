#include <filesystem>

#include "cli_commands.h"
#include "oh2b/oh2b.h"

namespace cli {

int RunConvert(const std::string& file, std::ostream& out, std::ostream& err) {
  try {
    std::error_code ec;
    const std::string image = std::filesystem::exists(file, ec) ? oh2b::HexToBin(file) : "";
    // The converter answers a missing file with no name at all.
    if (image.empty()) {
      err << MissingFileText(file) << '\n';
      return kExitFailure;
    }
    out << image << '\n';
    return kExitOk;
  } catch (const std::exception& e) {
    err << ErrorText(e.what()) << '\n';
    return kExitFailure;
  }
}

}  // namespace cli
