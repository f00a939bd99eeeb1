#include "TripleDes.h"

#include "Utf8.h"

#include <openssl/crypto.h>

#include <climits>

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

CTripleDesKey::CTripleDesKey() = default;

CTripleDesKey::~CTripleDesKey()
{
    OPENSSL_cleanse(m_key.data(), m_key.size());
}

CTripleDesKey::CTripleDesKey(const CTripleDesKey& other) = default;

CTripleDesKey& CTripleDesKey::operator=(const CTripleDesKey& other) = default;

CTripleDesKey DeriveKey(const std::string& strPassword)
{
    CTripleDesKey key;
    key.Bytes().fill(' ');
    const std::string_view password(strPassword);
    std::size_t nPos = 0;
    for (std::size_t i = 0; i < kKeyLength && nPos < password.size(); ++i) {
        const std::size_t nLength = utf8::CharacterLength(password, nPos);
        const auto byte = static_cast<unsigned char>(password[nPos]);
        key.Bytes()[i] = (nLength == 1 && byte < 0x80) ? byte : static_cast<unsigned char>('?');
        nPos += nLength;
    }
    return key;
}

bool CTripleDesDecryptor::Init(const CTripleDesKey& key)
{
    const EVP_CIPHER* pCipher = TripleDesEcb();
    if (pCipher == nullptr)
        return false;
    m_pCtx.reset(EVP_CIPHER_CTX_new());
    if (!m_pCtx)
        return false;
    // The key bytes are used as they stand: the provider checks neither parity nor weak keys.
    if (EVP_DecryptInit_ex2(m_pCtx.get(), pCipher, key.Bytes().data(), nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(m_pCtx.get(), 0) != 1) {
        m_pCtx.reset();
        return false;
    }
    return true;
}

bool CTripleDesDecryptor::InitFrom(const CTripleDesDecryptor& other)
{
    m_pCtx.reset();
    if (!other.m_pCtx)
        return false;
    m_pCtx.reset(EVP_CIPHER_CTX_new());
    if (!m_pCtx || EVP_CIPHER_CTX_copy(m_pCtx.get(), other.m_pCtx.get()) != 1) {
        m_pCtx.reset();
        return false;
    }
    return true;
}

bool CTripleDesDecryptor::Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nLength)
{
    if (!m_pCtx || nLength % kBlockSize != 0)
        return false;
    while (nLength > 0) {
        const std::size_t nStep = nLength > INT_MAX / 2 ? INT_MAX / 2 / kBlockSize * kBlockSize : nLength;
        int nOut = 0;
        if (EVP_DecryptUpdate(m_pCtx.get(), pOut, &nOut, pIn, static_cast<int>(nStep)) != 1 ||
            static_cast<std::size_t>(nOut) != nStep)
            return false;
        pIn += nStep;
        pOut += nStep;
        nLength -= nStep;
    }
    return true;
}

} // namespace brasko
