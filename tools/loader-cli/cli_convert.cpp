#include <atomic>
#include <filesystem>
#include <stdexcept>

#include "cli_commands.h"
#include "cli_messages.h"
#include "cli_platform.h"
#include "oh2b/oh2b.h"
#include "platform/file.h"

namespace cli {

namespace {

std::filesystem::path NewPrivateFolder() {
  const std::string folder = platform::MakePrivateFolder();
  if (folder.empty()) {
    throw std::runtime_error("Cannot create a private folder among the temporary files. " +
                             platform::SystemErrorText(platform::LastErrorCode()));
  }
  return PathOf(folder);
}

}  // namespace

TScratchFolder::TScratchFolder() : path_(NewPrivateFolder()) {}

TScratchFolder::~TScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TScratchFolder::NewSubfolder() {
  std::filesystem::path sub = path_ / std::to_string(subfolders_++);
  std::filesystem::create_directory(sub);
  return sub;
}

int ConvertHexFile(const TCommand& command, std::ostream& err, std::string& image,
                   const std::filesystem::path& folder, std::uint32_t* crc32) {
  const std::string& file = command.file;
  std::error_code ec;
  const std::filesystem::path hexPath = std::filesystem::absolute(PathOf(file), ec);
  // Ctrl-C cancels the conversion, which then leaves nothing half-written behind.
  std::atomic<bool> interrupted{false};
  TInterruptWatch interrupts([&interrupted] { interrupted = true; });
  try {
    image.clear();
    // The converter tells a name that names nothing (no image) from one it cannot reach,
    // and says why (a link loop, a folder closed to us, a path too long).
    if (!ec) {
      const oh2b::TConvertedImage converted = oh2b::ConvertHex(
          Utf8Of(hexPath), Utf8Of(folder),
          oh2b::THexOptions{command.checkRecords, [&interrupted] { return interrupted.load(); }});
      image = converted.path;
      if (crc32 != nullptr) *crc32 = converted.crc32;
    }
    interrupts.Stop();
    // The converter answers a missing file with no name at all.
    if (image.empty()) {
      err << kProgramPrefix << MissingFileText(file) << '\n';
      return kExitFailure;
    }
    return kExitOk;
  } catch (const oh2b::EConvertCancelled&) {
    interrupts.Stop();
    err << "loader-cli: interrupted; nothing written" << std::endl;
    return kExitInterrupted;
  } catch (const std::exception& e) {
    interrupts.Stop();
    err << kProgramPrefix << ConversionErrorText(file, e) << '\n';
    return kExitFailure;
  }
}

int RunConvert(const TCommand& command, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  const std::filesystem::path folder = PathOf(command.outputFolder);
  if (!command.outputFolder.empty() && !std::filesystem::is_directory(folder, ec)) {
    const platform::TErrorCode why =
        std::filesystem::exists(folder, ec) ? platform::kNotDirectory : platform::NotFoundError();
    err << kProgramPrefix
        << ErrorText("Cannot open folder \"" + command.outputFolder + "\". " +
                     platform::SystemErrorText(why))
        << '\n';
    return kExitFailure;
  }
  std::string image;
  std::uint32_t crc32 = 0;
  const int status = ConvertHexFile(command, err, image, folder, &crc32);
  // The name alone on standard output, for scripts; the CRC-32 the window shows beside it.
  if (status == kExitOk) {
    out << image << '\n';
    err << image << ": CRC-32 " << CrcText(crc32) << '\n';
  }
  return status;
}

}  // namespace cli
