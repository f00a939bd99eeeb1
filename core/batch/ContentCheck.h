#pragma once

#include "FileDecryptor.h"
#include "FileHandle.h"
#include "MessageSink.h"
#include "Plausibility.h"

#include <string>
#include <string_view>

namespace brasko {

// Decrypts the start of a file in memory (kPlausibilitySampleSize bytes, or the whole file when shorter, its
// short final chunk as DecryptFile decrypts it) and judges it. Writes nothing and prints no trace line. An
// input that cannot be opened is reported as DecryptFile reports it; the outcome then says why. For the
// verdict alone, a start that is plainly not random (PlainlyNotRandom) ends the check before the rest of the
// sample is decrypted. A read that waits for its file ends with Cancelled once stopAsked (may be empty) says
// so (ReadFully).
SDecryptOutcome CheckFileContent(const std::string& strInputPath, std::string_view password,
                                 IMessageSink& messages, const StopAskedFn& stopAsked = {},
                                 EPlausibilityDetail detail = EPlausibilityDetail::Description);

} // namespace brasko
