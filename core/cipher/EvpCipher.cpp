#include "EvpCipher.h"

#include "OpenSslPtr.h"
#include "TripleDesKey.h"

#include <climits>
#include <new>

namespace brasko {

namespace {

// Fetched once and shared by every context; EVP_CIPHER objects are safe to share between threads.
EVP_CIPHER* FetchTripleDesEcb()
{
    // The cipher comes from the built-in default provider. The system-wide OpenSSL configuration (TLS
    // policies, engines, other providers) has nothing for it, and reading it would cost a small file more
    // time than its decryption, so it is not loaded.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
    return EVP_CIPHER_fetch(nullptr, "DES-EDE3-ECB", nullptr);
}

const EVP_CIPHER* TripleDesEcb()
{
    static const CipherPtr pCipher(FetchTripleDesEcb());
    return pCipher.get();
}

} // namespace

struct CEvpCipher::SContext
{
    CipherCtxPtr pCtx;
};

CEvpCipher::CEvpCipher(std::unique_ptr<SContext> pContext) : m_pContext(std::move(pContext)) {}

CEvpCipher::~CEvpCipher() = default;

std::unique_ptr<CEvpCipher> CEvpCipher::Create(const CTripleDesKey& key)
{
    const EVP_CIPHER* pCipher = TripleDesEcb();
    if (pCipher == nullptr)
        return nullptr;
    std::unique_ptr<SContext> pContext(new (std::nothrow) SContext);
    if (!pContext || !(pContext->pCtx = CipherCtxPtr(EVP_CIPHER_CTX_new())))
        return nullptr;
    // The key bytes are used as they stand: the provider checks neither parity nor weak keys.
    if (EVP_DecryptInit_ex2(pContext->pCtx.get(), pCipher, key.Bytes().data(), nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(pContext->pCtx.get(), 0) != 1)
        return nullptr;
    return std::unique_ptr<CEvpCipher>(new (std::nothrow) CEvpCipher(std::move(pContext)));
}

std::unique_ptr<CEvpCipher> CEvpCipher::Clone() const
{
    std::unique_ptr<SContext> pContext(new (std::nothrow) SContext);
    if (!pContext || !(pContext->pCtx = CipherCtxPtr(EVP_CIPHER_CTX_new())) ||
        EVP_CIPHER_CTX_copy(pContext->pCtx.get(), m_pContext->pCtx.get()) != 1)
        return nullptr;
    return std::unique_ptr<CEvpCipher>(new (std::nothrow) CEvpCipher(std::move(pContext)));
}

bool CEvpCipher::Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nLength)
{
    while (nLength > 0) {
        const std::size_t nStep = nLength > INT_MAX / 2 ? INT_MAX / 2 / kBlockSize * kBlockSize : nLength;
        int nOut = 0;
        if (EVP_DecryptUpdate(m_pContext->pCtx.get(), pOut, &nOut, pIn, static_cast<int>(nStep)) != 1 ||
            static_cast<std::size_t>(nOut) != nStep)
            return false;
        pIn += nStep;
        pOut += nStep;
        nLength -= nStep;
    }
    return true;
}

} // namespace brasko
