// Failed system calls as exceptions that carry the call's name and the system's text.
#pragma once

#include <cerrno>
#include <string>
#include <system_error>

namespace bootsim {

[[noreturn]] inline void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace bootsim
