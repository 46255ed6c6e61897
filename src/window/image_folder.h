// Where a start converts the HEX file. The image goes into the current directory, where it
// has always gone, when new files can be made there; otherwise into a private folder of this
// user's among the temporary files, so that a HEX file in a folder closed to the user (a
// read-only medium, another user's folder) can still be flashed. That folder is removed,
// with the image in it, when the object that made it goes.
#pragma once

#include <filesystem>

namespace window {

// Whether new files can be made in `folder` (tried, since permissions alone do not tell on
// every system: a read-only medium, access lists).
bool FolderTakesNewFiles(const std::filesystem::path& folder);

class TImageFolder {
 public:
  TImageFolder() = default;  // none: the current directory, nothing to remove
  ~TImageFolder();
  TImageFolder(TImageFolder&& other) noexcept;
  TImageFolder& operator=(TImageFolder&& other) noexcept;
  TImageFolder(const TImageFolder&) = delete;
  TImageFolder& operator=(const TImageFolder&) = delete;

  // The folder for a conversion started now: the current directory if it takes new files,
  // else a new private folder under `temporary` (the system's temporary folder by default).
  // Where neither can be had the current directory stays, and the converter says why.
  static TImageFolder Choose(const std::filesystem::path& temporary = {});

  // The private folder; empty for the current directory.
  const std::filesystem::path& Private() const { return private_; }

 private:
  void Remove() noexcept;
  std::filesystem::path private_;
};

}  // namespace window
