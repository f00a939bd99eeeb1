#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brasko {

// Progress of a batch: which file is being worked on, and how many of its bytes are done.
// OnFileStarted names the file the batch reports next; when several files are decrypted at once the later
// ones may be under way already, and the calls may come from any of the batch's threads, but never from
// two threads at once. OnBytesDone and IsCancelRequested may also come from a worker thread while a large
// file is decrypted in parallel, never two calls at once, the figures of one file in increasing order; an
// implementation that touches a user interface must hand the figures over to its thread.
// IsCancelRequested is asked between chunks and before each file. Every method has a default that does
// nothing and never cancels.
class IProgressSink
{
public:
    virtual ~IProgressSink() = default;
    // nIndex counts from 0; nCount is the number of files in the batch.
    virtual void OnFileStarted(std::size_t nIndex, std::size_t nCount, const std::string& strPath)
    {
        (void)nIndex, (void)nCount, (void)strPath;
    }
    virtual void OnBytesDone(std::uint64_t nDone, std::uint64_t nTotal) { (void)nDone, (void)nTotal; }
    // True once the user has asked to stop: the files being decrypted are abandoned (their outputs
    // untouched, nothing left behind) and the batch ends without starting another.
    virtual bool IsCancelRequested() { return false; }
};

} // namespace brasko
