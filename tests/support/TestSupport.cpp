#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace brasko::test {

CTempDir::CTempDir()
{
    std::string strTemplate = (std::filesystem::temp_directory_path() / "brasko-test-XXXXXX").string();
    if (::mkdtemp(strTemplate.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = strTemplate;
}

CTempDir::~CTempDir()
{
    std::error_code ec;
    // Undo read-only bits a test may have set so that everything can be removed.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, ec))
        std::filesystem::permissions(
            entry.path(), std::filesystem::perms::owner_all,
            std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> CTempDir::List() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFileBytes(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + strPath);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFileBytes(const std::string& strPath, const std::string& strBytes)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + strPath);
}

std::string GermanText(std::size_t nSize)
{
    std::string strText;
    for (int i = 0; strText.size() < nSize; ++i)
        strText += "Zeile " + std::to_string(i) + ": Die Umsätze stiegen um " + std::to_string(i * 7 % 100) +
                   " Prozent; Grüße aus Köln.\n";
    strText.resize(nSize);
    return strText;
}

std::string RandomBytes(std::size_t nSize, unsigned nSeed)
{
    std::mt19937 generator(nSeed);
    std::string strBytes(nSize, '\0');
    for (char& c : strBytes)
        c = static_cast<char>(generator() & 0xFF);
    return strBytes;
}

std::string ToHex(const std::string& strBytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string strHex;
    for (const char c : strBytes) {
        const auto byte = static_cast<unsigned char>(c);
        strHex += kDigits[byte >> 4];
        strHex += kDigits[byte & 0xF];
    }
    return strHex;
}

std::string FromHex(const std::string& strHex)
{
    std::string strBytes;
    for (std::size_t i = 0; i + 1 < strHex.size(); i += 2)
        strBytes += static_cast<char>(std::stoi(strHex.substr(i, 2), nullptr, 16));
    return strBytes;
}

int RunShell(const std::string& strCommand)
{
    const int nStatus = std::system(strCommand.c_str());
    return (nStatus != -1 && WIFEXITED(nStatus)) ? WEXITSTATUS(nStatus) : -1;
}

namespace {

std::string RunOpenSsl(const char* pszDirection, const std::string& strKey, const std::string& strData)
{
    const CTempDir dir;
    WriteFileBytes(dir / "in", strData);
    const std::string strCommand = std::string("openssl enc ") + pszDirection + " -des-ede3 -nopad -K " +
                                   ToHex(strKey) + " -in '" + (dir / "in") + "' -out '" + (dir / "out") + "'";
    if (RunShell(strCommand) != 0)
        throw std::runtime_error("openssl failed: " + strCommand);
    return ReadFileBytes(dir / "out");
}

} // namespace

std::string OpenSslEncrypt(const std::string& strKey, const std::string& strPlain)
{
    return RunOpenSsl("-e", strKey, strPlain);
}

std::string OpenSslDecrypt(const std::string& strKey, const std::string& strCipher)
{
    return RunOpenSsl("-d", strKey, strCipher);
}

std::string ExpectedPlaintext(const std::string& strKey, const std::string& strCipher)
{
    const std::size_t nWhole = strCipher.size() / 8 * 8;
    std::string strPlain = nWhole > 0 ? OpenSslDecrypt(strKey, strCipher.substr(0, nWhole)) : std::string();
    const std::size_t nRest = strCipher.size() - nWhole;
    if (nRest > 0) {
        std::string strBlock = nWhole > 0 ? strPlain.substr(nWhole - 8) : std::string(8, '\0');
        strBlock.replace(0, nRest, strCipher.substr(nWhole));
        strPlain += OpenSslDecrypt(strKey, strBlock).substr(0, nRest);
    }
    return strPlain;
}

namespace {

struct SMapping
{
    unsigned long long nBegin = 0;
    unsigned long long nEnd = 0;
    bool bWritable = false;
    bool bLocked = false;
};

// The mappings of /proc/self/smaps: a header line "begin-end perms ...", then "Name: value" lines.
std::vector<SMapping> Mappings()
{
    std::ifstream smaps("/proc/self/smaps");
    if (!smaps)
        throw std::runtime_error("cannot read /proc/self/smaps");
    std::vector<SMapping> mappings;
    for (std::string strLine; std::getline(smaps, strLine);) {
        std::istringstream fields(strLine);
        std::string strFirst;
        fields >> strFirst;
        if (strFirst == "Locked:") {
            unsigned long nKb = 0;
            fields >> nKb;
            if (!mappings.empty())
                mappings.back().bLocked = nKb > 0;
            continue;
        }
        const std::size_t nDash = strFirst.find('-');
        if (strFirst.ends_with(':') || nDash == std::string::npos)
            continue;
        std::string strPerms;
        fields >> strPerms;
        SMapping mapping;
        mapping.nBegin = std::stoull(strFirst.substr(0, nDash), nullptr, 16);
        mapping.nEnd = std::stoull(strFirst.substr(nDash + 1), nullptr, 16);
        mapping.bWritable = strPerms.size() >= 2 && strPerms[0] == 'r' && strPerms[1] == 'w';
        mappings.push_back(mapping);
    }
    return mappings;
}

} // namespace

bool WritableMemoryHolds(const std::string& strMasked, unsigned char nMask, bool bLockedToo)
{
    const auto Matches = [nMask](char cMemory, char cMasked) {
        return static_cast<char>(static_cast<unsigned char>(cMemory) ^ nMask) == cMasked;
    };
    const std::vector<SMapping> mappings = Mappings();
    const int fdMemory = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (fdMemory < 0)
        throw std::runtime_error("cannot read /proc/self/mem");
    std::vector<char> buffer(std::size_t{1} << 20);
    bool bFound = false;
    for (const SMapping& mapping : mappings) {
        if (bFound || !mapping.bWritable || (mapping.bLocked && !bLockedToo))
            continue;
        // Chunks overlap by the needle's length, so that no match is cut in two.
        for (auto nPos = mapping.nBegin; !bFound && nPos < mapping.nEnd;) {
            const std::size_t nWant = std::min<std::size_t>(buffer.size(), mapping.nEnd - nPos);
            const ssize_t nRead = ::pread(fdMemory, buffer.data(), nWant, static_cast<off_t>(nPos));
            if (nRead <= 0)
                break;
            bFound = std::search(buffer.begin(), buffer.begin() + nRead, strMasked.begin(), strMasked.end(),
                                 Matches) != buffer.begin() + nRead;
            if (static_cast<std::size_t>(nRead) < nWant ||
                static_cast<std::size_t>(nRead) <= strMasked.size())
                break;
            nPos += static_cast<std::size_t>(nRead) - strMasked.size();
        }
    }
    std::fill(buffer.begin(), buffer.end(), 0);
    ::close(fdMemory);
    return bFound;
}

} // namespace brasko::test
