#pragma once

#include "DecryptionBatch.h"
#include "MessageSink.h"
#include "ProgressSink.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace brasko::cli {

// The batch's voice on the console: every message is a line on stderr, a failed file gets a line with the
// reason, and on a terminal a long run shows its progress in one line that is redrawn in place.
class CConsoleReporter : public IMessageSink, public IProgressSink, public IBatchObserver
{
public:
    // bShowProgress: draw the progress line (stderr is a terminal). bTrace: write the trace line to stdout
    // for each input opened. bTraceOnTerminal: the trace lines go to the same screen, so the progress line
    // is cleared before each file opens.
    CConsoleReporter(bool bShowProgress, bool bTrace, bool bTraceOnTerminal);

    void ShowMessage(const std::string& strText, EMessageIcon icon) override;
    void OnFileStarted(std::size_t nIndex, std::size_t nCount, const std::string& strPath) override;
    void OnBytesDone(std::uint64_t nDone, std::uint64_t nTotal) override;
    // True after Ctrl-C, SIGTERM, SIGHUP or SIGQUIT (CatchInterrupts).
    bool IsCancelRequested() override;
    void OnInputOpened(std::size_t nIndex, const std::string& strPath) override;
    void OnFileFinished(std::size_t nIndex, const std::string& strPath,
                        const SDecryptOutcome& outcome) override;

    // After each decrypted file, "<input> -> <output>" on stdout.
    void SetVerbose(bool bVerbose) { m_bVerbose = bVerbose; }
    // The success summary is not shown; errors and warnings are.
    void SetQuiet(bool bQuiet) { m_bQuiet = bQuiet; }

    // An entry kept out of the batch because it cannot be decrypted (a folder given without -r). Its line is
    // written where the entry stood: before the batch's entry nBatchIndex (the number of batch entries that
    // came before it), or before the summary, which then reports a failure. Added in batch order.
    void AddHeldBackFailure(std::size_t nBatchIndex, std::string strLine);

    // Writes one line to stderr, below the progress line, its control characters escaped (EscapeForTerminal).
    void WriteLine(const std::string& strLine);

private:
    using Clock = std::chrono::steady_clock;

    void DrawProgress();
    void ClearProgress();
    // The held-back failures that stood before the batch's entry nBatchIndex and are not written yet.
    void WriteHeldBack(std::size_t nBatchIndex);

    bool m_bShowProgress;
    bool m_bTrace;
    bool m_bTraceOnTerminal;
    bool m_bVerbose = false;
    bool m_bQuiet = false;
    bool m_bProgressVisible = false;
    bool m_bMessageForFile = false; // the current file has had a message of the core already
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_lastDraw;
    std::size_t m_nIndex = 0;
    std::size_t m_nCount = 0;
    std::string m_strName;
    std::uint64_t m_nDone = 0;
    std::uint64_t m_nTotal = 0;
    std::vector<std::pair<std::size_t, std::string>> m_heldBack; // batch index before which, the line
    std::size_t m_nHeldBackWritten = 0;
};

} // namespace brasko::cli
