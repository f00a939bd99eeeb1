#pragma once

#include "BatchInputs.h"
#include "BatchRequest.h"
#include "CommandLine.h"

#include <string>

namespace brasko::cli {

// The inputs of a run: the file arguments, then the names of --files-from, each folder standing for the
// files below it under --recursive. False with strError set when the list cannot be read.
bool CollectInputs(const SCommandLine& commandLine, SInputList& inputs, std::string& strError);

// --dry-run: "<input> -> <output>" on stdout for every entry that would be decrypted, in batch order; the
// entries the batch would refuse get its message on stderr instead, those it would skip (--skip-existing)
// are counted. Reads and creates nothing. The exit status: 1 when the plan refuses an entry, 2 for an empty
// template.
int PrintPlan(const SBatchRequest& request);

} // namespace brasko::cli
