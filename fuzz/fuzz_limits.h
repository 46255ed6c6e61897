// Process limits that keep one fuzz input cheap, one implementation per platform.
#pragma once

#include <cstdint>

namespace fuzzsupport {

// Files this process writes stop growing at `bytes`: a write past the limit fails with an
// error instead of stopping the process, so the code under test has to report it.
void LimitFileSize(std::uint64_t bytes);

}  // namespace fuzzsupport
