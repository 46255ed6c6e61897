// The errors of files that the converter and the transfer engine both raise, with the
// texts the operator sees.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/file.h"

namespace platform {

// A file exists but cannot be read, or is no regular file: "Cannot open file "%s". %s".
class EFOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A file cannot be created or put in place: "Cannot create file "%s". %s".
class EFCreateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// Writing a file failed: "Cannot write file "%s". %s".
class EWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] inline void ThrowOpenError(const std::string& path, TErrorCode error) {
  throw EFOpenError("Cannot open file \"" + path + "\". " + SystemErrorText(error));
}

[[noreturn]] inline void ThrowCreateError(const std::string& path, TErrorCode error) {
  throw EFCreateError("Cannot create file \"" + path + "\". " + SystemErrorText(error));
}

[[noreturn]] inline void ThrowWriteError(const std::string& path, TErrorCode error) {
  throw EWriteError("Cannot write file \"" + path + "\". " + SystemErrorText(error));
}

}  // namespace platform
