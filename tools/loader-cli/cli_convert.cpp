#include <atomic>
#include <filesystem>
#include <optional>

#include "cli_commands.h"
#include "cli_messages.h"
#include "cli_platform.h"
#include "oh2b/oh2b.h"

namespace cli {

TScratchFolder::TScratchFolder() : path_(MakePrivateFolder()) {}

TScratchFolder::~TScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TScratchFolder::NewSubfolder() {
  std::filesystem::path sub = path_ / std::to_string(subfolders_++);
  std::filesystem::create_directory(sub);
  return sub;
}

TCurrentDirectory::TCurrentDirectory(const std::filesystem::path& folder)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

TCurrentDirectory::~TCurrentDirectory() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
}

int ConvertHexFile(const TCommand& command, std::ostream& err, std::string& image,
                   const std::filesystem::path& folder, std::uint32_t* crc32) {
  const std::string& file = command.file;
  std::error_code ec;
  // Named from here, before the current directory changes.
  const std::filesystem::path hexPath = std::filesystem::absolute(PathOf(file), ec);
  // Ctrl-C cancels the conversion, which then leaves nothing half-written behind.
  std::atomic<bool> interrupted{false};
  TInterruptWatch interrupts([&interrupted] { interrupted = true; });
  try {
    image.clear();
    // The converter tells a name that names nothing (no image) from one it cannot reach,
    // and says why (a link loop, a folder closed to us, a path too long).
    if (!ec) {
      std::optional<TCurrentDirectory> there;
      if (!folder.empty()) there.emplace(folder);
      const oh2b::TConvertedImage converted = oh2b::ConvertHex(
          Utf8Of(hexPath),
          oh2b::THexOptions{command.checkRecords, [&interrupted] { return interrupted.load(); }});
      image = converted.name;
      if (crc32 != nullptr) *crc32 = converted.crc32;
    }
    interrupts.Stop();
    // The converter answers a missing file with no name at all.
    if (image.empty()) {
      err << kProgramPrefix << MissingFileText(file) << '\n';
      return kExitFailure;
    }
    if (!folder.empty()) image = Utf8Of(folder / PathOf(image));
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
    const std::errc why = std::filesystem::exists(folder, ec)
                              ? std::errc::not_a_directory
                              : std::errc::no_such_file_or_directory;
    err << kProgramPrefix
        << ErrorText("Cannot open folder \"" + command.outputFolder + "\". " +
                     std::make_error_code(why).message())
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
