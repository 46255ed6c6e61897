#include "window/image_aside.h"

#include <filesystem>
#include <system_error>

#include "platform/file.h"
#include "platform/file_names.h"

namespace window {

std::optional<oh2b::TConvertedImage> ConvertAside(const std::string& hexPath,
                                                  const std::function<bool()>& cancelled) {
  const std::string folder = platform::MakePrivateFolder();
  if (folder.empty()) return std::nullopt;
  std::optional<oh2b::TConvertedImage> image;
  try {
    image = oh2b::ConvertHex(hexPath, folder, oh2b::THexOptions{false, cancelled});
  } catch (const std::exception&) {
    image.reset();
  }
  if (image && image->path.empty()) image.reset();
  std::error_code error;
  std::filesystem::remove_all(platform::PathOf(folder), error);
  return image;
}

}  // namespace window
