// The kernel table: MB/s per core and cycles per byte of every Triple-DES kernel the CPU runs, decrypting
// the same buffer in place. bench-kernels [MIB] [ROUNDS] [KERNEL] (KERNEL: only that one, e.g. avx512)
// Times are the thread's CPU time (not wall time, which other processes on the machine would spoil);
// cycles are that CPU time times the clock rate the kernel reports for the CPU (cpu MHz in /proc/cpuinfo).
#include "TripleDes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double CpuMegahertz()
{
    std::ifstream cpuInfo("/proc/cpuinfo");
    std::string strLine;
    while (std::getline(cpuInfo, strLine)) {
        if (strLine.rfind("cpu MHz", 0) == 0)
            return std::atof(strLine.substr(strLine.find(':') + 1).c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace brasko;
    const std::size_t nMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int nRounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const char* pOnly = argc > 3 ? argv[3] : nullptr;
    std::vector<unsigned char> buffer(nMiB << 20);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<unsigned char>(i * 2654435761U >> 13);
    const double dMhz = CpuMegahertz();
    std::printf(
        "kernel table: %zu MiB decrypted in place, median of %d rounds of thread CPU time; cycles = CPU "
        "time x %.0f MHz (cpu MHz of /proc/cpuinfo)\n",
        nMiB, nRounds, dMhz);
    std::printf("  %-10s %-28s %10s %12s\n", "kernel", "key", "MB/s/core", "cycles/byte");
    struct SKeyCase
    {
        const char* pPassword;
        const char* pWhat;
    };
    for (const SKeyCase& keyCase : {SKeyCase{"Kennwort mit 20 Zeichen", "full 3DES (20 characters)"},
                                    SKeyCase{"Passwort", "one DES (8 characters)"}}) {
        const CTripleDesKey key = DeriveKey(keyCase.pPassword);
        for (const EDesKernel kernel : kAllDesKernels) {
            if (!DesKernelSupported(kernel) ||
                (pOnly != nullptr && std::strcmp(pOnly, DesKernelName(kernel)) != 0))
                continue;
            CTripleDesDecryptor cipher;
            if (!cipher.Init(key, kernel))
                return 1;
            std::vector<double> seconds;
            for (int r = 0; r < nRounds; ++r) {
                const double dStart = ThreadCpuSeconds();
                cipher.Decrypt(buffer.data(), buffer.data(), buffer.size());
                seconds.push_back(ThreadCpuSeconds() - dStart);
            }
            std::sort(seconds.begin(), seconds.end());
            const double dSeconds = seconds[seconds.size() / 2];
            const auto dBytes = static_cast<double>(buffer.size());
            std::printf("  %-10s %-28s %10.0f %12.2f\n", DesKernelName(kernel), keyCase.pWhat,
                        dBytes / dSeconds / 1e6, dSeconds * dMhz * 1e6 / dBytes);
        }
    }
    return 0;
}
