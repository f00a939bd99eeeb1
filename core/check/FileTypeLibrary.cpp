#include "FileTypeLibrary.h"

#include <atomic>
#include <dlfcn.h>
#include <magic.h>
#include <mutex>
#include <vector>

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
        if (m_pBuffer == nullptr)
            return {};
        // A cookie is not safe to use from two threads at once, so each thread asking takes one of its own
        // from the pool (made when none is free) and puts it back: no lock is held while libmagic looks.
        magic_t cookie = TakeCookie();
        if (cookie == nullptr)
            return {};
        const char* pszType = m_pBuffer(cookie, bytes.data(), bytes.size());
        std::string strType = pszType != nullptr ? pszType : "";
        const std::lock_guard lock(m_mutex);
        m_freeCookies.push_back(cookie); // reserved for every cookie made, so this does not throw
        return strType;
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
        for (magic_t cookie : m_freeCookies)
            m_pClose(cookie);
    }

    magic_t TakeCookie()
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_freeCookies.empty()) {
                magic_t cookie = m_freeCookies.back();
                m_freeCookies.pop_back();
                return cookie;
            }
            m_freeCookies.reserve(++m_nCookies);
        }
        return OpenCookie();
    }

    // A cookie with the signatures loaded, or nullptr.
    magic_t OpenCookie()
    {
        // Signatures only: the bytes asked about look random, so libmagic's text, encoding and compression
        // analyses have nothing to find; its tar test is kept (the signature lies at offset 257).
        const int nFlags = MAGIC_MIME_TYPE | (MAGIC_NO_CHECK_BUILTIN & ~MAGIC_NO_CHECK_TAR);
        magic_t cookie = m_pOpen(nFlags);
        if (cookie == nullptr)
            return nullptr;
        if (m_pLoad(cookie, nullptr) != 0) {
            m_pClose(cookie);
            return nullptr;
        }
        return cookie;
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
        if (!Bind(m_pOpen, "magic_open") || !Bind(m_pLoad, "magic_load") || !Bind(m_pClose, "magic_close") ||
            !Bind(m_pBuffer, "magic_buffer"))
            m_pBuffer = nullptr;
    }

    std::once_flag m_loaded;
    std::atomic<bool> m_bLoaded{false};
    std::mutex m_mutex; // guards the pool only
    std::vector<magic_t> m_freeCookies;
    std::size_t m_nCookies = 0; // made so far
    void* m_pHandle = nullptr;
    decltype(&magic_open) m_pOpen = nullptr;
    decltype(&magic_load) m_pLoad = nullptr;
    decltype(&magic_buffer) m_pBuffer = nullptr; // set once all four are bound
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
