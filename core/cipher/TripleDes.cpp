#include "TripleDes.h"

#include "BitslicedKey.h"
#include "EvpCipher.h"

namespace brasko {

CTripleDesDecryptor::CTripleDesDecryptor() = default;
CTripleDesDecryptor::~CTripleDesDecryptor() = default;
CTripleDesDecryptor::CTripleDesDecryptor(CTripleDesDecryptor&& other) noexcept = default;
CTripleDesDecryptor& CTripleDesDecryptor::operator=(CTripleDesDecryptor&& other) noexcept = default;

bool CTripleDesDecryptor::Init(const CTripleDesKey& key)
{
    return Init(key, DesKernelChoice().kernel);
}

bool CTripleDesDecryptor::Init(const CTripleDesKey& key, EDesKernel kernel, EMemoryLock lock)
{
    m_pEvp.reset();
    m_pKey.reset();
    m_kernel = kernel;
    if (kernel == EDesKernel::Evp) {
        m_pEvp = CEvpCipher::Create(key);
        return m_pEvp != nullptr;
    }
    if (!DesKernelSupported(kernel))
        return false;
    m_pKey = CBitslicedKey::Create(key, kernel, lock);
    return m_pKey != nullptr;
}

bool CTripleDesDecryptor::InitFrom(const CTripleDesDecryptor& other)
{
    m_pEvp.reset();
    m_pKey.reset();
    m_kernel = other.m_kernel;
    if (other.m_pKey) {
        m_pKey = other.m_pKey;
        return true;
    }
    if (!other.m_pEvp)
        return false;
    m_pEvp = other.m_pEvp->Clone();
    return m_pEvp != nullptr;
}

bool CTripleDesDecryptor::Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nLength)
{
    if (nLength % kBlockSize != 0)
        return false;
    if (m_pKey) {
        m_pKey->Decrypt(pIn, pOut, nLength / kBlockSize);
        return true;
    }
    return m_pEvp && m_pEvp->Decrypt(pIn, pOut, nLength);
}

} // namespace brasko
