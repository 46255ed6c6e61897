// CRC-32 (the polynomial of zip and PNG, reflected, 0xEDB88320): the fingerprint of an image
// from its conversion to the last byte sent, and the figure the operator can compare.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The CRC-32 of size bytes at data, continuing from crc (the result of the bytes before
// them; 0 for the first). Crc32(Crc32(0, a), b) is the CRC-32 of a followed by b.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace platform
