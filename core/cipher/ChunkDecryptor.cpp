#include "ChunkDecryptor.h"

#include "SecureBuffer.h"

#include <algorithm>

namespace brasko {

namespace {

std::size_t WholeBlockBytes(std::size_t nBytes)
{
    return nBytes - nBytes % kBlockSize;
}

} // namespace

CChunkDecryptor::~CChunkDecryptor()
{
    SecureWipe(m_lastBlock.data(), m_lastBlock.size());
}

bool CChunkDecryptor::Decrypt(CTripleDesDecryptor& cipher, unsigned char* pData, std::size_t nBytes)
{
    return DecryptBlocks(cipher, pData, nBytes) && Finish(cipher, pData, nBytes);
}

bool CChunkDecryptor::DecryptBlocks(CTripleDesDecryptor& cipher, unsigned char* pData, std::size_t nBytes)
{
    return cipher.Decrypt(pData, pData, WholeBlockBytes(nBytes));
}

bool CChunkDecryptor::Finish(CTripleDesDecryptor& cipher, unsigned char* pData, std::size_t nBytes)
{
    const std::size_t nWhole = WholeBlockBytes(nBytes);
    if (nWhole > 0)
        std::copy_n(pData + nWhole - kBlockSize, kBlockSize, m_lastBlock.begin());
    if (const std::size_t nRest = nBytes - nWhole; nRest > 0) {
        std::copy_n(pData + nWhole, nRest, m_lastBlock.begin());
        if (!cipher.Decrypt(m_lastBlock.data(), m_lastBlock.data(), kBlockSize))
            return false;
        std::copy_n(m_lastBlock.begin(), nRest, pData + nWhole);
    }
    return true;
}

} // namespace brasko
