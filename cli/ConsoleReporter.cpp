#include "ConsoleReporter.h"

#include "CliMessages.h"
#include "FailureText.h"
#include "FileHandle.h"
#include "Interrupt.h"
#include "Messages.h"
#include "TerminalText.h"
#include "Utf8.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace brasko::cli {

namespace {

// A run shorter than this shows no progress at all; after it, the line is redrawn at most this often.
constexpr auto kFirstDrawDelay = std::chrono::milliseconds(500);
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

constexpr const char* kClearLine = "\r\033[K";

void WriteToStderr(const std::string& strText)
{
    WriteFully(STDERR_FILENO, strText.data(), strText.size());
}

std::string Mebibytes(std::uint64_t nBytes)
{
    const auto nTenths = (nBytes * 10 + (1U << 19)) >> 20;
    return std::to_string(nTenths / 10) + "," + std::to_string(nTenths % 10);
}

std::size_t TerminalColumns()
{
    struct winsize size
    {
    };
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return 80;
    return size.ws_col;
}

} // namespace

CConsoleReporter::CConsoleReporter(bool bShowProgress, bool bTrace, bool bTraceOnTerminal)
    : m_bShowProgress(bShowProgress), m_bTrace(bTrace), m_bTraceOnTerminal(bTrace && bTraceOnTerminal)
{}

void CConsoleReporter::AddHeldBackFailure(std::size_t nBatchIndex, std::string strLine)
{
    m_heldBack.emplace_back(nBatchIndex, std::move(strLine));
}

void CConsoleReporter::ShowMessage(const std::string& strText, EMessageIcon icon)
{
    (void)icon; // a line on stderr has no icon; the text says whether it is an error
    // The batch's summary, its last message.
    if (strText == brasko::messages::kBatchSucceeded || strText == brasko::messages::kBatchFailed) {
        WriteHeldBack(SIZE_MAX);
        const bool bFailed = strText == brasko::messages::kBatchFailed || !m_heldBack.empty();
        if (bFailed)
            WriteLine(brasko::messages::kBatchFailed);
        else if (!m_bQuiet)
            WriteLine(strText);
        return;
    }
    m_bMessageForFile = true;
    WriteLine(strText);
}

void CConsoleReporter::OnFileStarted(std::size_t nIndex, std::size_t nCount, const std::string& strPath)
{
    WriteHeldBack(nIndex);
    m_nIndex = nIndex;
    m_nCount = nCount;
    m_strName = QuoteForTerminal(strPath.substr(strPath.rfind('/') + 1));
    m_nDone = 0;
    m_nTotal = 0;
    m_bMessageForFile = false;
    // A trace line printed after the progress line would stand in the middle of it.
    if (m_bTraceOnTerminal)
        ClearProgress();
    else
        DrawProgress();
}

void CConsoleReporter::OnBytesDone(std::uint64_t nDone, std::uint64_t nTotal)
{
    m_nDone = nDone;
    m_nTotal = nTotal;
    DrawProgress();
}

bool CConsoleReporter::IsCancelRequested()
{
    return InterruptSignal() != 0;
}

void CConsoleReporter::OnInputOpened(std::size_t nIndex, const std::string& strPath)
{
    (void)nIndex, (void)strPath;
    if (!m_bTrace)
        return;
    if (m_bTraceOnTerminal)
        ClearProgress();
    std::cout << brasko::messages::kTraceLine << std::endl;
}

void CConsoleReporter::OnFileFinished(std::size_t nIndex, const std::string& strPath,
                                      const SDecryptOutcome& outcome)
{
    (void)nIndex;
    if (const std::string strReason = FailureReason(strPath, outcome, m_bMessageForFile); !strReason.empty())
        WriteLine(strReason);
    if (m_bVerbose && outcome.Succeeded() && !outcome.bSkipped) {
        if (m_bTraceOnTerminal)
            ClearProgress();
        std::cout << messages::Mapping(QuoteForTerminal(strPath), QuoteForTerminal(outcome.strOutputPath))
                  << '\n';
    }
    if (outcome.Succeeded() && outcome.plausibility.verdict == EPlausibility::LooksRandom)
        WriteLine(messages::ContentLooksRandom(outcome.strOutputPath));
}

void CConsoleReporter::WriteLine(const std::string& strLine)
{
    ClearProgress();
    // Every line names its paths between quotation marks; the core's messages are single lines.
    WriteToStderr(EscapeForTerminal(strLine) + "\n");
}

void CConsoleReporter::WriteHeldBack(std::size_t nBatchIndex)
{
    for (; m_nHeldBackWritten < m_heldBack.size() && m_heldBack[m_nHeldBackWritten].first <= nBatchIndex;
         ++m_nHeldBackWritten)
        WriteLine(m_heldBack[m_nHeldBackWritten].second);
}

void CConsoleReporter::DrawProgress()
{
    if (!m_bShowProgress)
        return;
    const Clock::time_point now = Clock::now();
    if (now - m_start < kFirstDrawDelay || now - m_lastDraw < kRedrawInterval)
        return;
    m_lastDraw = now;

    std::string strLine = "Datei " + std::to_string(m_nIndex + 1) + " von " + std::to_string(m_nCount);
    if (m_nTotal > 0) {
        strLine += ": " + Mebibytes(m_nDone) + " von " + Mebibytes(m_nTotal) + " MiB (" +
                   std::to_string(m_nDone * 100 / m_nTotal) + " %)";
    }
    strLine += " – " + m_strName;
    // A line longer than the terminal would wrap, and \r could no longer return to its start.
    strLine = std::string(utf8::FirstCharacters(strLine, TerminalColumns() - 1));
    WriteToStderr(kClearLine + strLine);
    m_bProgressVisible = true;
}

void CConsoleReporter::ClearProgress()
{
    if (!m_bProgressVisible)
        return;
    WriteToStderr(kClearLine);
    m_bProgressVisible = false;
}

} // namespace brasko::cli
