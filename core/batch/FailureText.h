#pragma once

#include "DecryptOutcome.h"

#include <string>

namespace brasko {

// The reason for an errno value, in German: our own text for the errors a file operation meets, the
// system's text (German where a German locale is installed) for any other.
std::string SystemErrorText(int nError);

// The sentence that says why a file failed, as both front ends show it after the file; empty when there is
// nothing to add: the file succeeded or was cancelled, it is missing ("kann nicht gefunden werden" says all
// there is), or a message of the batch has said why. bAlreadyReported: the batch has shown a message for
// this file already.
std::string FailureReason(const std::string& strPath, const SDecryptOutcome& outcome, bool bAlreadyReported);

} // namespace brasko
