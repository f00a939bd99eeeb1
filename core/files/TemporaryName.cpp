#include "TemporaryName.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brasko {

namespace {

constexpr std::size_t kMaxTempStem = 200; // keeps the temporary name below NAME_MAX
constexpr std::size_t kRandomLength = 8;
constexpr std::string_view kTempEnding = ".tmp";
constexpr std::chrono::seconds kStaleAfter{60};
constexpr std::size_t kScansKept = 1024; // folders whose reading is remembered, at most

std::string RandomSuffix()
{
    static constexpr std::string_view kAlphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string strSuffix(kRandomLength, 'x');
    for (char& c : strSuffix)
        c = kAlphabet[pick(generator)];
    return strSuffix;
}

// The target name a temporary name stands for, as far as MakeTemporaryName kept it.
std::string_view TargetStem(std::string_view temporary)
{
    return temporary.substr(1, temporary.size() - 2 - kRandomLength - kTempEnding.size());
}

bool IsStale(int fdFolder, const std::string& strName)
{
    struct stat info
    {
    };
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    return ::fstatat(fdFolder, strName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
           info.st_uid == ::geteuid() && info.st_mtime + kStaleAfter.count() <= now;
}

// The stale temporary files of one folder as it was read.
struct SFolderScan
{
    std::chrono::steady_clock::time_point when;
    std::vector<std::string> names;
};

std::vector<std::string> StaleTemporaries(int fdFolder)
{
    std::vector<std::string> names;
    const int fd = ::openat(fdFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* pFolder = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (pFolder == nullptr) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    while (const dirent* pEntry = ::readdir(pFolder)) {
        const std::string_view name = pEntry->d_name;
        if ((pEntry->d_type == DT_REG || pEntry->d_type == DT_UNKNOWN) && IsBatchTemporaryName(name) &&
            IsStale(fdFolder, pEntry->d_name))
            names.emplace_back(name);
    }
    ::closedir(pFolder);
    return names;
}

} // namespace

std::string MakeTemporaryName(const std::string& strName)
{
    std::string strTemp(1, '.');
    strTemp.append(strName, 0, kMaxTempStem);
    strTemp += '.';
    strTemp += RandomSuffix();
    strTemp += kTempEnding;
    return strTemp;
}

bool IsBatchTemporaryName(std::string_view name)
{
    // "." + at least one character + "." + the random part + ".tmp"
    const std::size_t nTail = 1 + kRandomLength + kTempEnding.size();
    if (name.size() < 2 + nTail || name.front() != '.' || !name.ends_with(kTempEnding))
        return false;
    const std::string_view tail = name.substr(name.size() - nTail);
    return tail.front() == '.' && std::all_of(tail.begin() + 1, tail.begin() + 1 + kRandomLength, [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0;
           });
}

void RemoveStaleTemporaries(int fdFolder, const std::string& strName)
{
    struct stat folder
    {
    };
    if (::fstat(fdFolder, &folder) != 0)
        return;
    static std::mutex mutex;
    static std::map<std::pair<dev_t, ino_t>, SFolderScan> scans;
    const std::lock_guard lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    const auto isExpired = [&](const SFolderScan& scan) { return now - scan.when > kStaleAfter; };
    auto it = scans.find({folder.st_dev, folder.st_ino});
    if (it == scans.end() || isExpired(it->second)) {
        if (scans.size() >= kScansKept)
            std::erase_if(scans, [&](const auto& entry) { return isExpired(entry.second); });
        if (scans.size() >= kScansKept)
            scans.clear(); // a folder seen again is read again
        it = scans
                 .insert_or_assign({folder.st_dev, folder.st_ino},
                                   SFolderScan{now, StaleTemporaries(fdFolder)})
                 .first;
    }
    const std::string_view stem = std::string_view(strName).substr(0, kMaxTempStem);
    std::erase_if(it->second.names, [&](const std::string& strTemp) {
        if (TargetStem(strTemp) != stem)
            return false;
        // Checked again: it may have gone, or been replaced, since the folder was read.
        if (IsStale(fdFolder, strTemp))
            ::unlinkat(fdFolder, strTemp.c_str(), 0);
        return true;
    });
}

} // namespace brasko
