#include "Crc32.h"

#include <array>

namespace brasko::web {

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320U;

// Eight tables, so that the loop takes eight bytes per step ("slicing by 8").
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeTables()
{
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1U) != 0 ? kPolynomial ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t t = 1; t < 8; ++t) {
        for (std::size_t n = 0; n < 256; ++n)
            tables[t][n] = (tables[t - 1][n] >> 8) ^ tables[0][tables[t - 1][n] & 0xFFU];
    }
    return tables;
}

constexpr auto kTables = MakeTables();

// A linear map of 32-bit CRC states over GF(2): column i is the image of bit i.
using Matrix = std::array<std::uint32_t, 32>;

std::uint32_t Apply(const Matrix& matrix, std::uint32_t nVector)
{
    std::uint32_t nImage = 0;
    for (std::size_t i = 0; i < 32; ++i) {
        if (((nVector >> i) & 1U) != 0)
            nImage ^= matrix[i];
    }
    return nImage;
}

// first applied after second.
Matrix Compose(const Matrix& first, const Matrix& second)
{
    Matrix product{};
    for (std::size_t i = 0; i < 32; ++i)
        product[i] = Apply(first, second[i]);
    return product;
}

} // namespace

std::uint32_t Crc32(std::uint32_t nCrc, const unsigned char* pData, std::size_t nLength)
{
    std::uint32_t c = ~nCrc;
    while (nLength >= 8) {
        const std::uint32_t nLow =
            c ^ (pData[0] | (pData[1] << 8U) | (pData[2] << 16U) | (std::uint32_t{pData[3]} << 24U));
        c = kTables[7][nLow & 0xFFU] ^ kTables[6][(nLow >> 8U) & 0xFFU] ^ kTables[5][(nLow >> 16U) & 0xFFU] ^
            kTables[4][nLow >> 24U] ^ kTables[3][pData[4]] ^ kTables[2][pData[5]] ^ kTables[1][pData[6]] ^
            kTables[0][pData[7]];
        pData += 8;
        nLength -= 8;
    }
    while (nLength-- > 0)
        c = kTables[0][(c ^ *pData++) & 0xFFU] ^ (c >> 8U);
    return ~c;
}

// The CRC register after a further zero bit is a linear map of the one before; the map for 8 * nLength2 zero
// bits, built by binary exponentiation, carries the first CRC across the second piece.
std::uint32_t Crc32Combine(std::uint32_t nCrc1, std::uint32_t nCrc2, std::uint64_t nLength2)
{
    if (nCrc1 == 0 || nLength2 == 0)
        return nLength2 == 0 ? nCrc1 ^ nCrc2 : nCrc2;
    Matrix step{}; // one zero bit
    step[0] = kPolynomial;
    for (std::size_t i = 1; i < 32; ++i)
        step[i] = std::uint32_t{1} << (i - 1);
    Matrix power{};
    for (std::size_t i = 0; i < 32; ++i)
        power[i] = std::uint32_t{1} << i;
    for (std::uint64_t nBits = nLength2 * 8; nBits != 0; nBits >>= 1) {
        if ((nBits & 1U) != 0)
            power = Compose(step, power);
        step = Compose(step, step);
    }
    return Apply(power, nCrc1) ^ nCrc2;
}

} // namespace brasko::web
