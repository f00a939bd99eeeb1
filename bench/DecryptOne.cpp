// Decrypts one file with the core, for the benchmark: bench-decrypt FILE PASSWORD PREFIX [JOBS]
// JOBS as for DecryptFile: 0 (the default) one thread per hardware thread, 1 the calling thread only.
#include "FileDecryptor.h"

#include <cstdlib>
#include <iostream>
#include <string>

namespace {

class CStderrSink : public brasko::IMessageSink
{
public:
    void ShowMessage(const std::string& strText, brasko::EMessageIcon) override
    {
        std::cerr << strText << '\n';
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::cerr << "usage: bench-decrypt FILE PASSWORD PREFIX [JOBS]\n";
        return 2;
    }
    unsigned nJobs = 0;
    if (argc == 5) {
        char* pEnd = nullptr;
        const unsigned long nValue = std::strtoul(argv[4], &pEnd, 10);
        if (*argv[4] == '\0' || *pEnd != '\0' || nValue > 4096) {
            std::cerr << "bench-decrypt: JOBS must be a number from 0 to 4096\n";
            return 2;
        }
        nJobs = static_cast<unsigned>(nValue);
    }
    CStderrSink messages;
    return brasko::CFileDecryptor(argv[3], "", "").DecryptFile(argv[1], argv[2], messages, nullptr, nJobs);
}
