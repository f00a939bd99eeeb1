#pragma once

#include "TripleDesKey.h" // kMaxPasswordChars: the characters of a password that make the key

#include <string>
#include <vector>

namespace brasko {

// The Triple-DES variant this process decrypts with, as a front end reports it; the front ends see the
// cipher only through the batch.
struct SCipherReport
{
    std::string strRequested;           // the value of BRASKO_DES_KERNEL; empty when it is not set
    bool bRefused = false;              // the requested variant is unknown or this CPU lacks it
    std::vector<std::string> available; // the names of the variants this CPU runs
    bool bSelfTestFailed = false;       // the chosen variant failed its known-answer check; EVP stands in
    std::string strFailed;              // the name of the variant that failed it
};

// Decided once per process, on first use (DesKernelChoice).
SCipherReport ReportCipher();

} // namespace brasko
