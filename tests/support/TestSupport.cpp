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

bool WritableMemoryHolds(const std::string& strMasked, unsigned char nMask, bool bLockedToo)
{
    const auto Matches = [nMask](char cMemory, char cMasked) {
        return char(cMemory ^ char(nMask)) == cMasked;
    };
    // Each mapping's "begin-end perms ..." line comes before its "Locked: n kB" line.
    std::ifstream smaps("/proc/self/smaps");
    const int fdMemory = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (!smaps || fdMemory < 0)
        throw std::runtime_error("cannot read the process's memory");
    std::vector<char> buffer(std::size_t{1} << 20);
    unsigned long long nBegin = 0;
    unsigned long long nEnd = 0;
    bool bFound = false;
    for (std::string strLine; !bFound && std::getline(smaps, strLine);) {
        unsigned long long nFrom = 0;
        unsigned long long nTo = 0;
        unsigned long nLockedKb = 0;
        char szPerms[5] = {};
        if (std::sscanf(strLine.c_str(), "%llx-%llx %4s", &nFrom, &nTo, szPerms) == 3) {
            nBegin = nFrom;
            nEnd = szPerms[1] == 'w' ? nTo : nFrom;
            continue;
        }
        if (std::sscanf(strLine.c_str(), "Locked: %lu", &nLockedKb) != 1 || (nLockedKb > 0 && !bLockedToo))
            continue;
        // Chunks overlap by the needle's length, so that no match is cut in two.
        for (auto nPos = nBegin; !bFound && nPos + strMasked.size() < nEnd;) {
            const std::size_t nWant = std::min<std::size_t>(buffer.size(), nEnd - nPos);
            const ssize_t nRead = ::pread(fdMemory, buffer.data(), nWant, static_cast<off_t>(nPos));
            if (nRead <= 0)
                break;
            bFound = std::search(buffer.begin(), buffer.begin() + nRead, strMasked.begin(), strMasked.end(),
                                 Matches) != buffer.begin() + nRead;
            nPos += nWant - strMasked.size();
        }
    }
    std::fill(buffer.begin(), buffer.end(), 0);
    ::close(fdMemory);
    return bFound;
}

} // namespace brasko::test
