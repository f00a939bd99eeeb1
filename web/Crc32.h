#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32 of ZIP (reflected, polynomial 0xEDB88320) for the page's archive writer.
namespace brasko::web {

// The CRC of nLength bytes, continuing from nCrc (0 for the first piece).
std::uint32_t Crc32(std::uint32_t nCrc, const unsigned char* pData, std::size_t nLength);

// The CRC of two pieces joined, from the CRC of each and the length of the second, so that the workers can
// each take the CRC of their own chunk.
std::uint32_t Crc32Combine(std::uint32_t nCrc1, std::uint32_t nCrc2, std::uint64_t nLength2);

} // namespace brasko::web
