#include "FileTypeLibrary.h"

#include <atomic>
#include <dlfcn.h>
#include <magic.h>
#include <mutex>

namespace brasko {

namespace {

// libmagic through dlopen: the program is not linked against it, so a run that never asks never maps it.
// Packages must therefore name libmagic1 as a dependency themselves.
class CMagicLibrary
{
public:
    static CMagicLibrary& Instance()
    {
        static CMagicLibrary library;
        return library;
    }

    std::string MimeType(std::span<const unsigned char> bytes)
    {
        std::call_once(m_loaded, [this] { Load(); });
        if (m_cookie == nullptr)
            return {};
        // A cookie is not safe to use from two threads at once.
        const std::lock_guard lock(m_mutex);
        const char* pszType = m_pBuffer(m_cookie, bytes.data(), bytes.size());
        return pszType != nullptr ? pszType : "";
    }

    bool IsLoaded() const { return m_bLoaded.load(); }

    CMagicLibrary(const CMagicLibrary&) = delete;
    CMagicLibrary& operator=(const CMagicLibrary&) = delete;
    CMagicLibrary(CMagicLibrary&&) = delete;
    CMagicLibrary& operator=(CMagicLibrary&&) = delete;

private:
    CMagicLibrary() = default;
    // The library stays loaded until the process ends; unloading it at exit gains nothing.
    ~CMagicLibrary()
    {
        if (m_cookie != nullptr)
            m_pClose(m_cookie);
    }

    template <class F> bool Bind(F& pFunction, const char* pszName)
    {
        pFunction = reinterpret_cast<F>(::dlsym(m_pHandle, pszName)); // NOLINT: dlsym's only form
        return pFunction != nullptr;
    }

    void Load()
    {
        m_pHandle = ::dlopen("libmagic.so.1", RTLD_NOW | RTLD_LOCAL);
        if (m_pHandle == nullptr)
            return;
        m_bLoaded = true;
        decltype(&magic_open) pOpen = nullptr;
        decltype(&magic_load) pLoad = nullptr;
        if (!Bind(pOpen, "magic_open") || !Bind(pLoad, "magic_load") || !Bind(m_pBuffer, "magic_buffer") ||
            !Bind(m_pClose, "magic_close"))
            return;
        // Signatures only: the bytes asked about look random, so libmagic's text, encoding and compression
        // analyses have nothing to find; its tar test is kept (the signature lies at offset 257).
        const int nFlags = MAGIC_MIME_TYPE | (MAGIC_NO_CHECK_BUILTIN & ~MAGIC_NO_CHECK_TAR);
        magic_t cookie = pOpen(nFlags);
        if (cookie == nullptr)
            return;
        if (pLoad(cookie, nullptr) != 0) {
            m_pClose(cookie);
            return;
        }
        m_cookie = cookie;
    }

    std::once_flag m_loaded;
    std::atomic<bool> m_bLoaded{false};
    std::mutex m_mutex;
    void* m_pHandle = nullptr;
    magic_t m_cookie = nullptr;
    decltype(&magic_buffer) m_pBuffer = nullptr;
    decltype(&magic_close) m_pClose = nullptr;
};

} // namespace

std::string MagicMimeType(std::span<const unsigned char> bytes)
{
    return CMagicLibrary::Instance().MimeType(bytes);
}

bool IsMagicLoaded()
{
    return CMagicLibrary::Instance().IsLoaded();
}

} // namespace brasko
