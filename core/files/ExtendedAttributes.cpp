#include "ExtendedAttributes.h"

#include "FileHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace brasko {

namespace {

constexpr const char* kAclAttribute = "system.posix_acl_access";

// Reads an attribute list or value whose size may change between asking for it and reading it.
template <class FRead> int ReadSized(FRead read, std::vector<char>& buffer)
{
    for (int nAttempt = 0; nAttempt < 8; ++nAttempt) {
        const ssize_t nSize = read(nullptr, 0);
        if (nSize < 0)
            return errno;
        if (nSize == 0) {
            buffer.clear(); // nothing to read, as for a file without attributes
            return 0;
        }
        buffer.resize(static_cast<std::size_t>(nSize));
        const ssize_t n = read(buffer.data(), buffer.size());
        if (n >= 0) {
            buffer.resize(static_cast<std::size_t>(n));
            return 0;
        }
        if (errno != ERANGE)
            return errno;
    }
    return ERANGE;
}

// Attributes that belong to the old content rather than to the file: file capabilities would give the new
// content the privileges of the old program, and integrity hashes do not match it.
bool IsCarriedOver(std::string_view name)
{
    return name != "security.capability" && name != "security.ima" && name != "security.evm";
}

// Where the attributes of the replaced file are read: a readable descriptor, or a path to the file.
struct SAttributeSource
{
    int fd = -1;
    std::string strPath;

    ssize_t List(char* pBuffer, std::size_t nSize) const
    {
        return fd >= 0 ? ::flistxattr(fd, pBuffer, nSize) : ::listxattr(strPath.c_str(), pBuffer, nSize);
    }
    ssize_t Get(const char* pszName, char* pBuffer, std::size_t nSize) const
    {
        return fd >= 0 ? ::fgetxattr(fd, pszName, pBuffer, nSize)
                       : ::getxattr(strPath.c_str(), pszName, pBuffer, nSize);
    }
};

} // namespace

// fchmod() later sets the owner, mask (or group) and other entries from the final mode, so named entries stay
// limited by it.
bool CloseAcl(std::vector<char>& acl)
{
    constexpr std::size_t kHeader = 4;
    constexpr std::size_t kEntry = 8;
    constexpr unsigned kUserObj = 0x01;
    constexpr unsigned kGroupObj = 0x04;
    constexpr unsigned kMask = 0x10;
    constexpr unsigned kOther = 0x20;
    const auto byte = [&](std::size_t n) {
        return static_cast<unsigned>(static_cast<unsigned char>(acl[n]));
    };
    if (acl.size() < kHeader || (acl.size() - kHeader) % kEntry != 0 ||
        (byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24) != 2)
        return false;
    bool bHasMask = false;
    for (std::size_t n = kHeader; n < acl.size(); n += kEntry)
        bHasMask = bHasMask || (byte(n) | byte(n + 1) << 8) == kMask;
    for (std::size_t n = kHeader; n < acl.size(); n += kEntry) {
        const unsigned nTag = byte(n) | byte(n + 1) << 8;
        unsigned nPerm = byte(n + 2) | byte(n + 3) << 8;
        if (nTag == kUserObj)
            nPerm = 06;
        else if (nTag == kMask || nTag == kOther || (nTag == kGroupObj && !bHasMask))
            nPerm = 0;
        acl[n + 2] = static_cast<char>(nPerm & 0xff);
        acl[n + 3] = static_cast<char>(nPerm >> 8);
    }
    return true;
}

bool HasAccessAcl(int fd)
{
    return ::fgetxattr(fd, kAclAttribute, nullptr, 0) > 0;
}

namespace {

// Gives the new file the replaced file's extended attributes, as CarryAttributesOver.
int CopyAttributes(const SAttributeSource& source, int fdTarget)
{
    std::vector<char> names;
    if (const int nError = ReadSized([&](char* p, std::size_t n) { return source.List(p, n); }, names);
        nError != 0)
        return nError == ENOTSUP ? 0 : nError;
    bool bAcl = false;
    for (std::size_t nPos = 0; nPos < names.size();) {
        const std::string strName(names.data() + nPos);
        nPos += strName.size() + 1;
        if (strName.empty() || !IsCarriedOver(strName))
            continue;
        std::vector<char> value;
        if (const int nError =
                ReadSized([&](char* p, std::size_t n) { return source.Get(strName.c_str(), p, n); }, value);
            nError != 0) {
            if (nError == ENODATA)
                continue; // removed since the list was read
            return nError;
        }
        if (strName == kAclAttribute) {
            bAcl = true;
            if (!CloseAcl(value))
                return EINVAL;
        }
        // What the new file has already (a security label its folder gave it) need not be set.
        std::vector<char> present;
        if (ReadSized([&](char* p, std::size_t n) { return ::fgetxattr(fdTarget, strName.c_str(), p, n); },
                      present) == 0 &&
            present == value)
            continue;
        if (::fsetxattr(fdTarget, strName.c_str(), value.data(), value.size(), 0) != 0)
            return errno;
    }
    // An ACL the new file took from its folder's default ACL is not the replaced file's.
    if (!bAcl && ::fremovexattr(fdTarget, kAclAttribute) != 0 && errno != ENODATA && errno != ENOTSUP)
        return errno;
    return 0;
}

} // namespace

int CarryAttributesOver(int fdExisting, int fdFolder, const std::string& strName, int fdTarget)
{
    // Whether /proc is mounted is asked once.
    static const bool bProc = ::access("/proc/self/fd", F_OK) == 0;
    SAttributeSource source{-1, "/proc/self/fd/" + std::to_string(fdExisting)};
    CFileHandle readable;
    if (!bProc) {
        readable = CFileHandle(
            ::openat(fdFolder, strName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat info
        {
        };
        struct stat existing
        {
        };
        if (!readable || ::fstat(readable.Get(), &info) != 0 || ::fstat(fdExisting, &existing) != 0 ||
            info.st_dev != existing.st_dev || info.st_ino != existing.st_ino)
            return readable ? EAGAIN : errno;
        source.fd = readable.Get();
    }
    return CopyAttributes(source, fdTarget);
}

} // namespace brasko
