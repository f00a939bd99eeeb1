#pragma once

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brasko::test {

// How a run of the command line ended and what it wrote.
struct SCliResult
{
    int nExitStatus = -1; // -1 when it was ended by a signal or timed out
    int nSignal = 0;      // the signal that ended it
    bool bTimedOut = false;
    std::string strStdout;
    std::string strStderr;
    std::string strTerminal; // what it wrote to its terminal, when it had one
};

struct SCliOptions
{
    std::string strWorkDir;         // empty: the test's own
    long nFileSizeLimit = -1;       // RLIMIT_FSIZE for the child (SIGXFSZ at its default); -1: none
    long nUid = -1;                 // the user the child runs as (the test must be root); -1: the test's
    bool bTerminal = false;         // a pseudo-terminal as the child's controlling terminal
    bool bStderrOnTerminal = false; // stderr goes to that terminal instead of a pipe
    bool bStdoutOnTerminal = false; // stdout goes to that terminal instead of a pipe
};

// The built brasko-decrypt-cli running as a child process in a session of its own: without bTerminal it has
// no controlling terminal, so /dev/tty cannot be opened. Standard input is a pipe.
class CCliProcess
{
public:
    CCliProcess(const std::vector<std::string>& args, const SCliOptions& options = {});
    ~CCliProcess();
    CCliProcess(const CCliProcess&) = delete;
    CCliProcess& operator=(const CCliProcess&) = delete;
    CCliProcess(CCliProcess&&) = delete;
    CCliProcess& operator=(CCliProcess&&) = delete;

    void WriteStdin(const std::string& strData);
    // Collects output until the terminal has shown strText; false on a timeout or when the child ended.
    bool WaitForTerminal(const std::string& strText,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void WriteTerminal(const std::string& strData);
    // Collects output until standard output holds strText; false on a timeout or when the child ended.
    bool WaitForStdout(const std::string& strText,
                       std::chrono::milliseconds timeout = std::chrono::seconds(30));
    pid_t Pid() const { return m_pid; }
    // The terminal's local modes (c_lflag), seen from the test's side.
    unsigned TerminalLocalModes() const;
    void Signal(int nSignal) const;
    // Closes standard input (unless told to keep it open, for a child that is to end without), collects all
    // output and waits for the end (killing the child after a timeout).
    SCliResult Finish(std::chrono::milliseconds timeout = std::chrono::seconds(30), bool bCloseStdin = true);

private:
    // One round of reading whatever is ready; false when nothing more can come from the pipes.
    bool Collect(int nTimeoutMs);

    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_stderr = -1;
    int m_terminalMaster = -1;
    int m_terminalSlave = -1;
    SCliResult m_result;
};

// Runs the command line to its end with the given standard input.
SCliResult RunCli(const std::vector<std::string>& args, const std::string& strStdin = {},
                  const SCliOptions& options = {});

// Sets an environment variable, which the child inherits, while it lives.
class CEnvironment
{
public:
    CEnvironment(const char* pName, const std::string& strValue) : m_pName(pName)
    {
        ::setenv(pName, strValue.c_str(), 1);
    }
    ~CEnvironment() { ::unsetenv(m_pName); }
    CEnvironment(const CEnvironment&) = delete;
    CEnvironment& operator=(const CEnvironment&) = delete;
    CEnvironment(CEnvironment&&) = delete;
    CEnvironment& operator=(CEnvironment&&) = delete;

private:
    const char* m_pName;
};

// The lines as the command line writes them, each ended by a line feed.
std::string Lines(std::initializer_list<std::string> lines);

// The reason the command line gives for an errno value: German on every system, whatever locales are
// installed and whatever LANG says.
std::string SystemText(int nError);

} // namespace brasko::test
