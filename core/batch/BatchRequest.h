#pragma once

#include "OutputTemplate.h"
#include "SecureBuffer.h"

#include <string>
#include <string_view>
#include <vector>

namespace brasko {

// What one run of the decryption batch works on, copied out of the front end at its start; the password is
// not copied: it stays in the front end's secure buffer, which outlives the run.
struct SBatchRequest
{
    // The password's bytes (UTF-8); none is the empty password.
    const CSecureBuffer* pPassword = nullptr;
    std::string strPrefix;
    std::string strSuffix;
    std::string strExtension;
    // The inputs, in the order they are decrypted and reported.
    std::vector<std::string> paths;
    // Where the outputs go: empty for next to each input, else a folder that exists.
    std::string strOutputDir;
    // Empty, or one entry per path: the folder below strOutputDir its output goes to ("2019/a/" or ""), the
    // input's place below the folder argument it was found in.
    std::vector<std::string> subFolders;
    // A batch of one entry whose output is named by the caller instead of the template: a path, or empty.
    std::string strOutputFile;
    // A batch of one entry may read a descriptor (standard input) instead of its path, and write its
    // plaintext to a descriptor (standard output) instead of a file; -1 for none. Its path and its output's
    // name then only name them in messages.
    int fdInput = -1;
    int fdOutput = -1;
    // Threads: 0 one per hardware thread, 1 the calling thread only. More than one decrypt several files
    // at once, and a large file on all of them.
    unsigned nJobs = 0;
    // An entry whose output exists already is left alone and counts as done.
    bool bSkipExisting = false;
    // Judge the start of each decrypted plaintext; the verdict reaches the observer with the outcome.
    bool bCheckPlaintext = false;

    std::string_view Password() const
    {
        return pPassword != nullptr ? pPassword->View() : std::string_view();
    }

    // Whether the outputs have names: the template has at least one field, or the one output is named by the
    // caller. A batch without decrypts nothing.
    bool HasTemplate() const
    {
        return brasko::HasTemplate(strPrefix, strSuffix, strExtension) || !strOutputFile.empty() ||
               fdOutput >= 0;
    }
};

} // namespace brasko
