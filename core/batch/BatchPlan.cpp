#include "BatchPlan.h"

#include "OutputGuards.h"
#include "OutputTemplate.h"

#include <algorithm>
#include <optional>
#include <sys/stat.h>

namespace brasko {

namespace {

struct SFileId
{
    dev_t dev = 0;
    ino_t ino = 0;
    auto operator<=>(const SFileId&) const = default;
};

std::optional<SFileId> IdOf(const std::string& strPath)
{
    struct stat info
    {
    };
    if (strPath.empty() || ::stat(strPath.c_str(), &info) != 0)
        return std::nullopt;
    return SFileId{info.st_dev, info.st_ino};
}

// The input's absolute path, the current folder resolved once for the whole batch.
std::string AbsoluteIn(const std::string& strCwd, const std::string& strPath)
{
    if (!strPath.empty() && strPath.front() == '/')
        return AbsolutePath(strPath);
    if (strCwd.empty())
        return {};
    return AbsolutePath(strCwd + "/" + strPath);
}

// Every entry's output path under the request's template: next to its absolute input, or below the output
// folder. Empty where the input has no absolute path.
std::vector<std::string> NameOutputs(const SBatchRequest& request, const std::vector<std::string>& inputs,
                                     const std::string& strCwd)
{
    const SOutputTemplate outputTemplate{request.strPrefix, request.strSuffix, request.strExtension};
    std::string strOutputDir;
    if (!request.strOutputDir.empty()) {
        strOutputDir = AbsoluteIn(strCwd, request.strOutputDir);
        if (!strOutputDir.empty() && strOutputDir.back() != '/')
            strOutputDir += '/';
    }
    std::vector<std::string> outputs(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i].empty())
            continue;
        const std::size_t nNameStart = inputs[i].rfind('/') + 1;
        const std::string strName = outputTemplate.BuildOutputName(inputs[i].substr(nNameStart));
        if (strOutputDir.empty()) {
            outputs[i] = inputs[i].substr(0, nNameStart) + strName;
        } else {
            const std::string& strSub = i < request.subFolders.size() ? request.subFolders[i] : std::string();
            outputs[i] = strOutputDir + strSub + strName;
        }
    }
    return outputs;
}

// Marks the outputs that are an input of the batch reached by another path (a link). Only where outputs
// exist already are the inputs looked at, so that a fresh run looks at each name once.
void MarkOutputsThatAreInputFiles(const std::vector<std::string>& paths,
                                  const std::vector<std::optional<SFileId>>& outputIds,
                                  std::vector<bool>& marks)
{
    if (std::none_of(outputIds.begin(), outputIds.end(), [](const auto& id) { return id.has_value(); }))
        return;
    std::vector<SFileId> inputIds;
    inputIds.reserve(paths.size());
    for (const std::string& strPath : paths) {
        if (const std::optional<SFileId> id = IdOf(strPath))
            inputIds.push_back(*id);
    }
    std::sort(inputIds.begin(), inputIds.end());
    for (std::size_t i = 0; i < outputIds.size(); ++i) {
        if (outputIds[i] && std::binary_search(inputIds.begin(), inputIds.end(), *outputIds[i]))
            marks[i] = true;
    }
}

} // namespace

SBatchPlan PlanBatch(const SBatchRequest& request)
{
    const std::size_t nCount = request.paths.size();
    // A lexical absolute path of "." gives the current folder without asking for it once per entry.
    const std::string strCwd = AbsolutePath(".");
    std::vector<std::string> inputs(nCount);
    for (std::size_t i = 0; i < nCount; ++i)
        inputs[i] = AbsoluteIn(strCwd, request.paths[i]);

    SBatchPlan plan;
    plan.outputs = NameOutputs(request, inputs, strCwd);
    std::vector<std::optional<SFileId>> outputIds(nCount);
    std::transform(plan.outputs.begin(), plan.outputs.end(), outputIds.begin(), IdOf);
    // An output that is an input of the batch: by its path, or as the same file by a link.
    std::vector<bool> replacesInput = FindOutputsNamingInputs(inputs, plan.outputs);
    MarkOutputsThatAreInputFiles(request.paths, outputIds, replacesInput);
    // Two entries that would write the same output: the same path, or one existing file by two paths.
    std::vector<bool> shared = FindSharedOutputs(plan.outputs);
    MarkShared(outputIds, shared);

    plan.verdicts.assign(nCount, EPlanVerdict::Decrypt);
    for (std::size_t i = 0; i < nCount; ++i) {
        if (replacesInput[i])
            plan.verdicts[i] = EPlanVerdict::ReplacesInput;
        else if (shared[i])
            plan.verdicts[i] = EPlanVerdict::DuplicateOutput;
        if (plan.verdicts[i] != EPlanVerdict::Decrypt)
            ++plan.nRefused;
    }
    return plan;
}

} // namespace brasko
