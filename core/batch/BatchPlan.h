#pragma once

#include "BatchRequest.h"

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace brasko {

// Why an entry of a batch is not decrypted at all.
enum class EPlanVerdict : unsigned char
{
    Decrypt,
    ReplacesInput,   // its output is an input of the batch (the same path, or the same file by a link)
    DuplicateOutput, // another entry would write the same output
};

// Every entry's output path and verdict, in the order of the request.
struct SBatchPlan
{
    std::vector<std::string> outputs; // empty where no path can be formed (the current folder is gone)
    std::vector<EPlanVerdict> verdicts;
    // Nothing stood at the output's name when its folder was read (a folder that is to hold many outputs):
    // the output is created without another look at the name, and takes it only while it is still free.
    std::vector<bool> freeOutputNames;
    // The output folder as an absolute path ending in '/', which every output below it starts with; empty
    // when the outputs go next to their inputs.
    std::string strOutputDir;
    std::size_t nRefused = 0;
};

// Names the outputs by the request's template (next to each input, or below strOutputDir) and finds the
// entries that must not be decrypted, before any file is written. Sorting makes it O(n log n); it looks at
// the file system with stat once per distinct folder, and per file only where outputs exist already (each
// existing output, then each input); a folder that is to hold many outputs is read once to find them.
SBatchPlan PlanBatch(const SBatchRequest& request);

// Whether a run that skips existing outputs (bSkipExisting) may count the output of an input as finished:
// a regular file of the caller's, not a link, exactly as long as the input, both found by the link rule
// (StatByRule). An output is always as long as its input; a new one is not flushed to disk, so after a power
// cut it may be shorter and is done again. Anything else at the output's name is decrypted over, or refused,
// as without skipping.
bool IsFinishedOutput(const struct stat& input, const std::string& strOutputPath);
bool IsFinishedOutput(const std::string& strInputPath, const std::string& strOutputPath);

} // namespace brasko
