// The wrong-password hint, measured: bench-plausibility LIST WRONG_PASSWORDS TRIALS_PER_FILE
// LIST holds "type<TAB>path" lines. Each file's start (up to 64 KiB, whole blocks) is encrypted with
// OpenSSL's EVP under the password "benchmark" and checked as --check does, with that password (a warning
// there is a false warning) and with TRIALS_PER_FILE of WRONG_PASSWORDS random wrong passwords (each wrong
// password used about equally often). Prints the figures, every false warning and every miss.
#include "Plausibility.h"

#include "ContentCheck.h"
#include "FileTypeLibrary.h"
#include "TripleDes.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace brasko;

class CStderrSink : public IMessageSink
{
public:
    void ShowMessage(const std::string& strText, EMessageIcon /*icon*/) override
    {
        std::cerr << strText << '\n';
    }
};

std::string Encrypt(const std::string& strPassword, const std::string& strPlain)
{
    const CTripleDesKey key = DeriveKey(strPassword);
    EVP_CIPHER_CTX* pCtx = EVP_CIPHER_CTX_new();
    std::string strCipher(strPlain.size(), '\0');
    int nOut = 0;
    if (EVP_EncryptInit_ex(pCtx, EVP_des_ede3_ecb(), nullptr, key.Bytes().data(), nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(pCtx, 0) != 1 ||
        EVP_EncryptUpdate(pCtx, reinterpret_cast<unsigned char*>(strCipher.data()), &nOut,
                          reinterpret_cast<const unsigned char*>(strPlain.data()),
                          static_cast<int>(strPlain.size())) != 1) {
        std::cerr << "encryption failed\n";
        std::exit(2);
    }
    EVP_CIPHER_CTX_free(pCtx);
    return strCipher;
}

// DES ignores the lowest bit of every key byte: passwords that differ only there give the same key and are
// not wrong at all.
std::string EffectiveKey(const std::string& strPassword)
{
    std::string strKey(reinterpret_cast<const char*>(DeriveKey(strPassword).Bytes().data()), kKeyLength);
    for (char& c : strKey)
        c = static_cast<char>(c & 0xFE);
    return strKey;
}

struct SFile
{
    std::string strType;
    std::string strPath;
    std::string strEncrypted;
    std::size_t nSize = 0;
};

double Milliseconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::cerr << "usage: bench-plausibility LIST WORK_DIR WRONG_PASSWORDS TRIALS_PER_FILE\n";
        return 2;
    }
    const std::string strRight = "benchmark";
    const std::string strWork = argv[2];
    const int nWrong = std::stoi(argv[3]);
    const int nTrialsPerFile = std::stoi(argv[4]);

    std::vector<SFile> files;
    std::ifstream list(argv[1]);
    std::string strLine;
    while (std::getline(list, strLine)) {
        const std::size_t nTab = strLine.find('\t');
        if (nTab == std::string::npos)
            continue;
        SFile file{strLine.substr(0, nTab), strLine.substr(nTab + 1), {}, 0};
        std::ifstream in(file.strPath, std::ios::binary);
        std::string strHead(kPlausibilitySampleSize, '\0');
        in.read(strHead.data(), static_cast<std::streamsize>(strHead.size()));
        strHead.resize(static_cast<std::size_t>(in.gcount()) / kBlockSize * kBlockSize);
        file.nSize = strHead.size();
        file.strEncrypted = strWork + "/" + std::to_string(files.size()) + ".enc";
        std::ofstream(file.strEncrypted, std::ios::binary) << Encrypt(strRight, strHead);
        files.push_back(std::move(file));
    }

    CStderrSink messages;
    std::map<std::string, int> types;
    int nJudged = 0;
    int nFalse = 0;
    for (const SFile& file : files) {
        ++types[file.strType];
        const SPlausibility judged = CheckFileContent(file.strEncrypted, strRight, messages).plausibility;
        if (judged.verdict == EPlausibility::TooShort)
            continue;
        ++nJudged;
        if (judged.verdict == EPlausibility::LooksRandom) {
            ++nFalse;
            std::cout << "  FALSE WARNING: " << file.strType << " " << file.strPath << '\n';
        }
    }
    const bool bMagicAfterRight = IsMagicLoaded();

    std::mt19937 generator(20261207);
    const std::string strRightKey = EffectiveKey(strRight);
    std::vector<std::string> wrong;
    std::set<std::string> seen;
    while (static_cast<int>(wrong.size()) < nWrong) {
        std::string strPassword;
        const std::size_t nLength = 1 + generator() % 12;
        for (std::size_t i = 0; i < nLength; ++i)
            strPassword += static_cast<char>(0x21 + generator() % 94);
        if (EffectiveKey(strPassword) == strRightKey || !seen.insert(strPassword).second)
            continue;
        wrong.push_back(strPassword);
    }

    int nTrials = 0;
    int nFlagged = 0;
    std::vector<double> times;
    std::size_t nNext = 0;
    for (const SFile& file : files) {
        if (file.nSize < kPlausibilityMinimumSize)
            continue;
        for (int t = 0; t < nTrialsPerFile; ++t) {
            const std::string& strPassword = wrong[nNext++ % wrong.size()];
            const auto start = std::chrono::steady_clock::now();
            const SPlausibility judged =
                CheckFileContent(file.strEncrypted, strPassword, messages).plausibility;
            times.push_back(Milliseconds(std::chrono::steady_clock::now() - start));
            ++nTrials;
            if (judged.verdict == EPlausibility::LooksRandom)
                ++nFlagged;
            else
                std::cout << "  MISSED: " << file.strType << " " << file.strPath << " password #"
                          << (nNext - 1) % wrong.size() << ": " << judged.strDescription << '\n';
        }
    }
    const double dFirst = times.empty() ? 0 : times.front();
    std::sort(times.begin() + (times.empty() ? 0 : 1), times.end());
    const double dMedian = times.size() > 1 ? times[1 + (times.size() - 1) / 2] : 0;

    std::printf("corpus: %zu files of %zu types (%d of 64 bytes or more), first 64 KiB of each\n",
                files.size(), types.size(), nJudged);
    std::ostringstream typeList;
    for (const auto& [strType, nCount] : types)
        typeList << strType << " " << nCount << ", ";
    std::printf("  types: %s\n", typeList.str().substr(0, typeList.str().size() - 2).c_str());
    std::printf("false warnings with the right password: %d of %d (goal 0)%s\n", nFalse, nJudged,
                bMagicAfterRight ? "" : "; libmagic was never loaded for them");
    std::printf("wrong passwords: %zu distinct, %d decryptions (%d per file): %d flagged = %.3f %% (goal >= "
                "99.5 %%)\n",
                wrong.size(), nTrials, nTrialsPerFile, nFlagged, nTrials ? 100.0 * nFlagged / nTrials : 0.0);
    std::printf(
        "  time per check of a random-looking start: first %.2f ms (loads libmagic), then median %.2f ms\n",
        dFirst, dMedian);
    return nFalse == 0 && nTrials > 0 && nFlagged * 1000 >= nTrials * 995 ? 0 : 1;
}
