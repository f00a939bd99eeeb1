// What the plausibility check costs a short run: bench-plausibility-cost RUNS DIR CLI ARGS...
// Runs CLI ARGS (the check on, the default) and CLI --no-check ARGS in alternating blocks of 20 fresh
// processes in DIR, and prints the median CPU time (user + system, from wait4) and wall time per run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct SRun
{
    double dCpuMs;
    double dWallMs;
};

SRun RunOnce(std::vector<char*>& argv)
{
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    // The summary lines on stderr are not wanted here.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int nSpawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawned != 0) {
        std::perror("posix_spawn");
        std::exit(2);
    }
    int nStatus = 0;
    struct rusage usage
    {
    };
    if (wait4(pid, &nStatus, 0, &usage) != pid || !WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
        std::fprintf(stderr, "run failed\n");
        std::exit(2);
    }
    const double dWall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double dCpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return {dCpu, dWall};
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench-plausibility-cost RUNS DIR CLI ARGS...\n");
        return 2;
    }
    const int nRuns = std::atoi(argv[1]);
    if (chdir(argv[2]) != 0) {
        std::perror(argv[2]);
        return 2;
    }
    std::vector<char*> withCheck(argv + 3, argv + argc);
    withCheck.push_back(nullptr);
    std::string strNoCheck = "--no-check";
    std::vector<char*> without = {argv[3], strNoCheck.data()};
    without.insert(without.end(), argv + 4, argv + argc);
    without.push_back(nullptr);

    std::vector<double> cpuOn, cpuOff, wallOn, wallOff;
    for (int nDone = 0; nDone < nRuns; nDone += 20) {
        for (int i = 0; i < 20; ++i) {
            const SRun run = RunOnce(withCheck);
            cpuOn.push_back(run.dCpuMs);
            wallOn.push_back(run.dWallMs);
        }
        for (int i = 0; i < 20; ++i) {
            const SRun run = RunOnce(without);
            cpuOff.push_back(run.dCpuMs);
            wallOff.push_back(run.dWallMs);
        }
    }
    const double dOn = Median(cpuOn);
    const double dOff = Median(cpuOff);
    double dSumOn = 0, dSumOff = 0;
    for (double d : cpuOn)
        dSumOn += d;
    for (double d : cpuOff)
        dSumOff += d;
    std::printf("  check on (default): CPU median %.3f ms, mean %.3f ms, wall median %.3f ms\n", dOn,
                dSumOn / static_cast<double>(cpuOn.size()), Median(wallOn));
    std::printf("  --no-check:         CPU median %.3f ms, mean %.3f ms, wall median %.3f ms\n", dOff,
                dSumOff / static_cast<double>(cpuOff.size()), Median(wallOff));
    std::printf("  CPU time with the check against without: median %.3fx, mean %.3fx (goal <= 1.05)\n",
                dOn / dOff, dSumOn / dSumOff);
    return 0;
}
