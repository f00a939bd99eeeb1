#include "BatchPlan.h"

#include "FileDecryptor.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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

std::string CurrentDirectory()
{
    // A lexical absolute path of "." gives the current folder without asking for it once per entry.
    return AbsolutePath(".");
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

// Marks every entry that shares its key with another, the keys given per entry (nullopt: no key).
template <typename Key>
void MarkShared(const std::vector<std::optional<Key>>& keys, std::vector<bool>& shared)
{
    std::vector<std::size_t> order;
    order.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i])
            order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return *keys[a] < *keys[b]; });
    for (std::size_t nStart = 0; nStart < order.size();) {
        std::size_t nEnd = nStart + 1;
        while (nEnd < order.size() && *keys[order[nEnd]] == *keys[order[nStart]])
            ++nEnd;
        if (nEnd - nStart > 1) {
            for (std::size_t k = nStart; k < nEnd; ++k)
                shared[order[k]] = true;
        }
        nStart = nEnd;
    }
}

} // namespace

SBatchPlan PlanBatch(const SBatchRequest& request)
{
    const std::size_t nCount = request.paths.size();
    const CFileDecryptor decryptor(request.strPrefix, request.strSuffix, request.strExtension);
    const std::string strCwd = CurrentDirectory();
    std::string strOutputDir;
    if (!request.strOutputDir.empty()) {
        strOutputDir = AbsoluteIn(strCwd, request.strOutputDir);
        if (!strOutputDir.empty() && strOutputDir.back() != '/')
            strOutputDir += '/';
    }

    SBatchPlan plan;
    plan.outputs.resize(nCount);
    plan.verdicts.assign(nCount, EPlanVerdict::Decrypt);
    std::vector<std::optional<SFileId>> outputIds(nCount);
    bool bAnyOutputExists = false;
    {
        std::vector<std::string> inputs(nCount);
        for (std::size_t i = 0; i < nCount; ++i) {
            inputs[i] = AbsoluteIn(strCwd, request.paths[i]);
            if (inputs[i].empty())
                continue;
            const std::size_t nNameStart = inputs[i].rfind('/') + 1;
            const std::string strName = decryptor.BuildOutputName(inputs[i].substr(nNameStart));
            if (strOutputDir.empty()) {
                plan.outputs[i] = inputs[i].substr(0, nNameStart) + strName;
            } else {
                const std::string& strSub =
                    i < request.subFolders.size() ? request.subFolders[i] : std::string();
                plan.outputs[i] = strOutputDir + strSub + strName;
            }
            outputIds[i] = IdOf(plan.outputs[i]);
            bAnyOutputExists = bAnyOutputExists || outputIds[i].has_value();
        }

        // An output that is an input of the batch: by its path, or, where outputs exist already, as the
        // same file reached by a link. A fresh run thus looks at each name once.
        std::vector<SFileId> inputIds;
        if (bAnyOutputExists) {
            inputIds.reserve(nCount);
            for (const std::string& strPath : request.paths) {
                if (const std::optional<SFileId> id = IdOf(strPath))
                    inputIds.push_back(*id);
            }
            std::sort(inputIds.begin(), inputIds.end());
        }
        std::vector<std::string_view> sortedInputs;
        sortedInputs.reserve(nCount);
        for (const std::string& strInput : inputs) {
            if (!strInput.empty())
                sortedInputs.emplace_back(strInput);
        }
        std::sort(sortedInputs.begin(), sortedInputs.end());
        for (std::size_t i = 0; i < nCount; ++i) {
            if (plan.outputs[i].empty())
                continue;
            if (std::binary_search(sortedInputs.begin(), sortedInputs.end(),
                                   std::string_view(plan.outputs[i])) ||
                (outputIds[i] && std::binary_search(inputIds.begin(), inputIds.end(), *outputIds[i])))
                plan.verdicts[i] = EPlanVerdict::ReplacesInput;
        }
    }

    // Two entries that would write the same output: the same path, or one existing file by two paths.
    std::vector<bool> shared(nCount, false);
    {
        std::vector<std::optional<std::string_view>> paths(nCount);
        for (std::size_t i = 0; i < nCount; ++i) {
            if (!plan.outputs[i].empty())
                paths[i] = plan.outputs[i];
        }
        MarkShared(paths, shared);
    }
    MarkShared(outputIds, shared);
    for (std::size_t i = 0; i < nCount; ++i) {
        if (shared[i] && plan.verdicts[i] == EPlanVerdict::Decrypt)
            plan.verdicts[i] = EPlanVerdict::DuplicateOutput;
        if (plan.verdicts[i] != EPlanVerdict::Decrypt)
            ++plan.nRefused;
    }
    return plan;
}

} // namespace brasko
