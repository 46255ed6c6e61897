#include "window/image_aside.h"

#include <filesystem>
#include <system_error>

#include "platform/file.h"

namespace window {

namespace {

std::filesystem::path Utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// Goes into a folder for as long as it lives, then back.
class TInFolder {
 public:
  explicit TInFolder(const std::filesystem::path& folder)
      : previous_(std::filesystem::current_path(error_)) {
    if (!error_) std::filesystem::current_path(folder, error_);
  }
  ~TInFolder() {
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
  }
  TInFolder(const TInFolder&) = delete;
  TInFolder& operator=(const TInFolder&) = delete;
  bool Entered() const { return !error_; }

 private:
  std::error_code error_;
  std::filesystem::path previous_;
};

}  // namespace

std::optional<oh2b::TConvertedImage> ConvertAside(const std::string& hexPath,
                                                  const std::function<bool()>& cancelled) {
  std::error_code error;
  // Named from here, before the current directory changes.
  const std::filesystem::path hex = std::filesystem::absolute(Utf8Path(hexPath), error);
  const std::string folder = platform::MakePrivateFolder();
  if (error || folder.empty()) return std::nullopt;
  std::optional<oh2b::TConvertedImage> image;
  {
    TInFolder there(Utf8Path(folder));
    if (there.Entered()) {
      const std::u8string name = hex.u8string();
      try {
        image = oh2b::ConvertHex(std::string(name.begin(), name.end()),
                                 oh2b::THexOptions{false, cancelled});
      } catch (const std::exception&) {
        image.reset();
      }
      if (image && image->name.empty()) image.reset();
    }
  }
  std::filesystem::remove_all(Utf8Path(folder), error);
  return image;
}

}  // namespace window
