// Decrypts one file in a process of its own, under conditions a test cannot set up in its own process:
//   decrypt-child [--stop-at-progress] [--read-descriptor] [--file-size-limit BYTES] [--map-at-zero BYTES]
//                 INPUT PASSWORD PREFIX JOBS
// --file-size-limit makes every write past BYTES fail with EFBIG (SIGXFSZ ignored).
// --map-at-zero maps BYTES of zeros at address 0, so that /proc/self/mem reads that far and then fails.
// --stop-at-progress prints "progress" once the first bytes are written and then waits to be killed.
// --read-descriptor opens INPUT here and hands the decryptor its descriptor, past the checks of its open.
// Prints each message as "message: <text>", and "<EDecryptError as a number> <errno>" as its last line;
// exits 77 when the mapping is refused.
#include "FileDecryptor.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

class CPrintingSink : public brasko::IMessageSink
{
public:
    void ShowMessage(const std::string& strText, brasko::EMessageIcon) override
    {
        std::cout << "message: " << strText << std::endl;
    }
};

// Holds the decryption in the middle of the output, for a test that kills the process there.
class CStoppingProgress : public brasko::IProgressSink
{
public:
    void OnBytesDone(std::uint64_t, std::uint64_t) override
    {
        std::cout << "progress" << std::endl;
        for (;;)
            ::pause();
    }
};

} // namespace

int main(int argc, char** argv)
{
    int nArg = 1;
    CStoppingProgress stoppingProgress;
    brasko::IProgressSink* pProgress = nullptr;
    bool bReadDescriptor = false;
    for (; nArg < argc; ++nArg) {
        if (std::strcmp(argv[nArg], "--stop-at-progress") == 0)
            pProgress = &stoppingProgress;
        else if (std::strcmp(argv[nArg], "--read-descriptor") == 0)
            bReadDescriptor = true;
        else
            break;
    }
    for (; nArg + 1 < argc && std::strncmp(argv[nArg], "--", 2) == 0; nArg += 2) {
        const auto nBytes = static_cast<std::size_t>(std::strtoull(argv[nArg + 1], nullptr, 10));
        if (std::strcmp(argv[nArg], "--file-size-limit") == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{nBytes, nBytes};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 2;
        } else if (std::strcmp(argv[nArg], "--map-at-zero") == 0) {
            // Below vm.mmap_min_addr this needs CAP_SYS_RAWIO.
            void* p = ::mmap(nullptr, nBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                             -1, 0);
            if (p == MAP_FAILED)
                return 77;
        } else {
            return 2;
        }
    }
    if (argc - nArg != 4)
        return 2;
    CPrintingSink messages;
    const auto nJobs = static_cast<unsigned>(std::strtoul(argv[nArg + 3], nullptr, 10));
    const brasko::CFileHandle input(bReadDescriptor ? ::open(argv[nArg], O_RDONLY | O_CLOEXEC) : -1);
    const brasko::CFileDecryptor decryptor(argv[nArg + 2], "", "");
    const brasko::SDecryptOutcome outcome =
        decryptor.Decrypt({.strInputPath = argv[nArg],
                           .strOutputPath = decryptor.BuildOutputPath(argv[nArg]),
                           .cipher = brasko::PrepareCipher(argv[nArg + 1]),
                           .messages = messages,
                           .pProgress = pProgress,
                           .nJobs = nJobs,
                           .fdInput = input.Get()});
    std::cout << static_cast<int>(outcome.error) << ' ' << outcome.nSystemError << std::endl;
    return 0;
}
