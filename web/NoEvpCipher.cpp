// The browser has no OpenSSL: the EVP kernel is not there, and the bitsliced kernels do all the work.
#include "EvpCipher.h"

namespace brasko {

struct CEvpCipher::SContext
{
};

CEvpCipher::CEvpCipher(std::unique_ptr<SContext> pContext) : m_pContext(std::move(pContext)) {}

CEvpCipher::~CEvpCipher() = default;

std::unique_ptr<CEvpCipher> CEvpCipher::Create(const CTripleDesKey& /*key*/)
{
    return nullptr;
}

std::unique_ptr<CEvpCipher> CEvpCipher::Clone() const
{
    return nullptr;
}

bool CEvpCipher::Decrypt(const unsigned char* /*pIn*/, unsigned char* /*pOut*/, std::size_t /*nLength*/)
{
    return false;
}

} // namespace brasko
