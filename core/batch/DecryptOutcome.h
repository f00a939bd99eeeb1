#pragma once

#include "Plausibility.h"

#include <cerrno>
#include <string>
#include <utility>

namespace brasko {

// Why a decryption failed. The user has been told by a message for InputMissing, InputNotRegular,
// InputOnPseudoFileSystem and OpenInput, and by the batch for ReplacesInput and DuplicateOutput.
enum class EDecryptError
{
    None,
    OpenInput,       // the input exists but cannot be opened (nSystemError says why)
    CipherSetup,     // the cipher could not be set up
    OutputIsInput,   // the output path names the input file itself
    CreateOutput,    // the output cannot be created (or is a folder, device, pipe or read-only file)
    Read,            // reading the input failed
    Write,           // writing or completing the output failed
    Cancelled,       // the user asked to stop (IProgressSink::IsCancelRequested)
    OutputRefused,   // the output is a link or file that must not be written through or replaced (a link or
                     // file of another user in a shared folder, a link to nothing); the user has been told
    InputShrank,     // the input got shorter while it was read; the user has been told
    InputMissing,    // there is no file at the input path
    InputNotRegular, // the input is a folder, a device, a pipe or another file that is not a regular one
    InputOnPseudoFileSystem, // the input is a file of /proc, /sys or their kind, not stored bytes
    OutOfMemory,             // memory for the file's decryption could not be had
    ReplacesInput,           // the output would replace another input of the same batch
    DuplicateOutput,         // another entry of the same batch would write the same output
};

struct SDecryptOutcome
{
    SDecryptOutcome() = default;
    SDecryptOutcome(EDecryptError anError, int nError, std::string strOutput = {}, SPlausibility judged = {})
        : error(anError), nSystemError(nError), strOutputPath(std::move(strOutput)),
          plausibility(std::move(judged))
    {}

    EDecryptError error = EDecryptError::None;
    int nSystemError = 0; // errno of the failing call, 0 when there is none
    std::string strOutputPath;
    SPlausibility plausibility; // of the plaintext, when the decryptor was asked to judge it
    bool bSkipped = false;      // the output existed already and was left alone (a success)

    bool Succeeded() const { return error == EDecryptError::None; }
};

// The input could not be opened as one: a trial of the password goes on to the next input.
inline bool IsOpenFailure(EDecryptError error)
{
    return error == EDecryptError::OpenInput || error == EDecryptError::InputMissing ||
           error == EDecryptError::InputNotRegular || error == EDecryptError::InputOnPseudoFileSystem;
}

// What a failed allocation (std::bad_alloc) means for a file, wherever it happens: the one classification
// of running out of memory.
inline SDecryptOutcome OutOfMemoryOutcome(std::string strOutputPath = {})
{
    return SDecryptOutcome{EDecryptError::OutOfMemory, ENOMEM, std::move(strOutputPath)};
}

} // namespace brasko
