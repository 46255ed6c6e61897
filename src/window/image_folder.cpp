#include "window/image_folder.h"

#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "platform/file.h"
#include "platform/file_names.h"

namespace window {

namespace fs = std::filesystem;

namespace {

// Made anew under a name no one holds: creating a folder fails on a name that exists.
fs::path NewFolderIn(const fs::path& base, const char* prefix) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path path = base / (prefix + std::to_string(random()));
    std::error_code ec;
    if (fs::create_directory(path, ec)) return path;
    if (ec) break;
  }
  return {};
}

}  // namespace

bool FolderTakesNewFiles(const fs::path& folder) {
  const fs::path probe = NewFolderIn(folder, ".loader-probe-");
  if (probe.empty()) return false;
  std::error_code ec;
  fs::remove(probe, ec);
  return true;
}

TImageFolder::~TImageFolder() {
  Remove();
}

TImageFolder::TImageFolder(TImageFolder&& other) noexcept
    : private_(std::exchange(other.private_, {})) {}

TImageFolder& TImageFolder::operator=(TImageFolder&& other) noexcept {
  if (this != &other) {
    Remove();
    private_ = std::exchange(other.private_, {});
  }
  return *this;
}

TImageFolder TImageFolder::Choose(const fs::path& temporary) {
  TImageFolder folder;
  std::error_code ec;
  const fs::path current = fs::current_path(ec);
  if (ec || FolderTakesNewFiles(current)) return folder;
  // The image is this user's alone to read, as the HEX file it comes from may be.
  const std::string made = platform::MakePrivateFolder(platform::Utf8Of(temporary));
  folder.private_ = platform::PathOf(made);
  return folder;
}

void TImageFolder::Remove() noexcept {
  if (private_.empty()) return;
  std::error_code ec;
  fs::remove_all(private_, ec);
  private_.clear();
}

}  // namespace window
