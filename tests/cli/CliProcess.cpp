#include "CliProcess.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace brasko::test {

namespace {

using Clock = std::chrono::steady_clock;

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void WriteAll(int fd, const std::string& strData)
{
    std::size_t nDone = 0;
    while (nDone < strData.size()) {
        const ssize_t n = ::write(fd, strData.data() + nDone, strData.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return; // the child has stopped reading; what it got is what the test checks
        nDone += static_cast<std::size_t>(n);
    }
}

// Reads what is there; false at the end of the stream.
bool ReadInto(int fd, std::string& strOut)
{
    std::array<char, 65536> buffer{};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    strOut.append(buffer.data(), static_cast<std::size_t>(n));
    return n > 0;
}

int RemainingMs(Clock::time_point deadline)
{
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return remaining.count() > 0 ? static_cast<int>(remaining.count()) : 0;
}

} // namespace

CCliProcess::CCliProcess(const std::vector<std::string>& args, const SCliOptions& options)
{
    // The child may end without reading its input.
    ::signal(SIGPIPE, SIG_IGN);

    std::array<int, 2> inPipe{}, outPipe{}, errPipe{-1, -1};
    if (::pipe2(inPipe.data(), O_CLOEXEC) != 0 || ::pipe2(outPipe.data(), O_CLOEXEC) != 0 ||
        (!options.bStderrOnTerminal && ::pipe2(errPipe.data(), O_CLOEXEC) != 0))
        throw std::runtime_error("pipe2 failed");

    std::string strSlavePath;
    if (options.bTerminal) {
        m_terminalMaster = ::open("/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC);
        std::array<char, 128> name{};
        if (m_terminalMaster < 0 || ::grantpt(m_terminalMaster) != 0 || ::unlockpt(m_terminalMaster) != 0 ||
            ::ptsname_r(m_terminalMaster, name.data(), name.size()) != 0)
            throw std::runtime_error("no pseudo-terminal");
        strSlavePath = name.data();
        // The test keeps the terminal open, so that it outlives the child and its modes can be read.
        m_terminalSlave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        const struct winsize size = {24, 100, 0, 0};
        ::ioctl(m_terminalMaster, TIOCSWINSZ, &size);
    }

    std::vector<std::string> argv = {BRASKO_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPointers;
    argvPointers.reserve(argv.size() + 1);
    for (std::string& strArg : argv)
        argvPointers.push_back(strArg.data());
    argvPointers.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        ::setsid();
        if (options.bTerminal) {
            // The first terminal a session leader opens becomes its controlling terminal.
            const int terminal = ::open(strSlavePath.c_str(), O_RDWR);
            if (terminal < 0)
                ::_exit(126);
            if (options.bStderrOnTerminal)
                ::dup2(terminal, STDERR_FILENO);
            if (options.bStdoutOnTerminal)
                ::dup2(terminal, STDOUT_FILENO);
            ::close(terminal);
        }
        ::dup2(inPipe[0], STDIN_FILENO);
        if (!options.bStdoutOnTerminal)
            ::dup2(outPipe[1], STDOUT_FILENO);
        if (!options.bStderrOnTerminal)
            ::dup2(errPipe[1], STDERR_FILENO);
        if (!options.strWorkDir.empty() && ::chdir(options.strWorkDir.c_str()) != 0)
            ::_exit(126);
        if (options.nFileSizeLimit >= 0) {
            const struct rlimit limit = {static_cast<rlim_t>(options.nFileSizeLimit),
                                         static_cast<rlim_t>(options.nFileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        // The program itself is to make an exceeded limit a write error; an ignored SIGXFSZ of the test
        // would be inherited and hide it.
        ::signal(SIGXFSZ, SIG_DFL);
        if (options.nUid >= 0) {
            const auto uid = static_cast<uid_t>(options.nUid);
            if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
                ::_exit(126);
        }
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(argvPointers[0], argvPointers.data());
        ::_exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    if (errPipe[1] >= 0)
        ::close(errPipe[1]);
    m_stdin = inPipe[1];
    m_stdout = outPipe[0];
    m_stderr = errPipe[0];
}

CCliProcess::~CCliProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    for (int* pFd : {&m_stdin, &m_stdout, &m_stderr, &m_terminalMaster, &m_terminalSlave})
        CloseFd(*pFd);
}

void CCliProcess::WriteStdin(const std::string& strData)
{
    WriteAll(m_stdin, strData);
}

void CCliProcess::WriteTerminal(const std::string& strData)
{
    WriteAll(m_terminalMaster, strData);
}

unsigned CCliProcess::TerminalLocalModes() const
{
    struct termios modes
    {
    };
    if (::tcgetattr(m_terminalSlave, &modes) != 0)
        throw std::runtime_error("tcgetattr failed");
    return modes.c_lflag;
}

void CCliProcess::Signal(int nSignal) const
{
    ::kill(m_pid, nSignal);
}

bool CCliProcess::Collect(int nTimeoutMs)
{
    std::array<pollfd, 3> fds{};
    std::array<std::pair<int*, std::string*>, 3> streams = {
        std::pair{&m_stdout, &m_result.strStdout}, std::pair{&m_stderr, &m_result.strStderr},
        std::pair{&m_terminalMaster, &m_result.strTerminal}};
    for (std::size_t i = 0; i < streams.size(); ++i)
        fds[i] = {*streams[i].first, POLLIN, 0};
    if (::poll(fds.data(), fds.size(), nTimeoutMs) > 0) {
        for (std::size_t i = 0; i < streams.size(); ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            // The terminal stays open on the test's side; only the pipes end.
            if (!ReadInto(*streams[i].first, *streams[i].second) && streams[i].first != &m_terminalMaster)
                CloseFd(*streams[i].first);
        }
    }
    return m_stdout >= 0 || m_stderr >= 0;
}

bool CCliProcess::WaitForTerminal(const std::string& strText, std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (m_result.strTerminal.find(strText) == std::string::npos) {
        if (Clock::now() >= deadline || !Collect(RemainingMs(deadline)))
            return m_result.strTerminal.find(strText) != std::string::npos;
    }
    return true;
}

bool CCliProcess::WaitForStdout(const std::string& strText, std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (m_result.strStdout.find(strText) == std::string::npos) {
        if (Clock::now() >= deadline || !Collect(RemainingMs(deadline)))
            return m_result.strStdout.find(strText) != std::string::npos;
    }
    return true;
}

SCliResult CCliProcess::Finish(std::chrono::milliseconds timeout, bool bCloseStdin)
{
    if (bCloseStdin)
        CloseFd(m_stdin);
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Collect(RemainingMs(deadline))) {
        if (Clock::now() >= deadline) {
            m_result.bTimedOut = true;
            ::kill(m_pid, SIGKILL);
            break;
        }
    }
    int nStatus = 0;
    ::waitpid(m_pid, &nStatus, 0);
    m_pid = -1;
    if (m_terminalMaster >= 0) {
        // What the child wrote last is still buffered in the terminal.
        ::fcntl(m_terminalMaster, F_SETFL, O_NONBLOCK);
        std::array<char, 4096> buffer{};
        for (ssize_t n; (n = ::read(m_terminalMaster, buffer.data(), buffer.size())) > 0;)
            m_result.strTerminal.append(buffer.data(), static_cast<std::size_t>(n));
    }
    if (WIFEXITED(nStatus) && !m_result.bTimedOut)
        m_result.nExitStatus = WEXITSTATUS(nStatus);
    else if (WIFSIGNALED(nStatus))
        m_result.nSignal = WTERMSIG(nStatus);
    return m_result;
}

SCliResult RunCli(const std::vector<std::string>& args, const std::string& strStdin,
                  const SCliOptions& options)
{
    CCliProcess process(args, options);
    process.WriteStdin(strStdin);
    return process.Finish();
}

std::string Lines(std::initializer_list<std::string> lines)
{
    std::string strText;
    for (const std::string& strLine : lines)
        strText += strLine + "\n";
    return strText;
}

std::string SystemText(int nError)
{
    static const std::map<int, std::string> texts = {
        {ENOENT, "Datei oder Ordner nicht vorhanden"},
        {EACCES, "Keine Berechtigung"},
        {EPERM, "Vorgang nicht erlaubt"},
        {EISDIR, "Ist ein Ordner"},
        {ENOTDIR, "Ein Teil des Pfades ist kein Ordner"},
        {EFBIG, "Datei zu groß"},
        {ENOSPC, "Kein Speicherplatz auf dem Gerät"},
        {EROFS, "Schreibgeschütztes Dateisystem"},
        {ELOOP, "Zu viele Ebenen symbolischer Verknüpfungen"},
        {EEXIST, "Datei ist schon vorhanden"},
    };
    return texts.at(nError);
}

} // namespace brasko::test
