#pragma once

#include <openssl/evp.h>

#include <memory>

namespace brasko {

struct SCipherCtxDeleter
{
    // EVP_CIPHER_CTX_free clears the expanded key schedules before releasing them.
    void operator()(EVP_CIPHER_CTX* pCtx) const { EVP_CIPHER_CTX_free(pCtx); }
};

struct SCipherDeleter
{
    void operator()(EVP_CIPHER* pCipher) const { EVP_CIPHER_free(pCipher); }
};

using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, SCipherCtxDeleter>;
using CipherPtr = std::unique_ptr<EVP_CIPHER, SCipherDeleter>;

} // namespace brasko
