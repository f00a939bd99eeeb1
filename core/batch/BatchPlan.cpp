#include "BatchPlan.h"

#include "OutputGuards.h"
#include "OutputTemplate.h"
#include "PathResolver.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace brasko {

namespace {

struct SFileId
{
    dev_t dev = 0;
    ino_t ino = 0;
    // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy 14 misreads the defaulted comparison
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

// Outputs of the batch in one folder from which on the folder is read once rather than asked for each name.
constexpr std::size_t kOutputsForListing = 8;

// The names in a folder; none found where the folder is missing; nullopt where it cannot be read.
std::optional<std::unordered_set<std::string>> NamesIn(const std::string& strFolder)
{
    DIR* pFolder = ::opendir(strFolder.c_str());
    if (pFolder == nullptr) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::unordered_set<std::string>();
        return std::nullopt;
    }
    std::unordered_set<std::string> names;
    errno = 0;
    while (const dirent* pEntry = ::readdir(pFolder))
        names.emplace(pEntry->d_name);
    const bool bComplete = errno == 0;
    ::closedir(pFolder);
    if (!bComplete)
        return std::nullopt;
    return names;
}

// The file at each output path where one is. A folder that is to hold many outputs is read once, and only
// the names found in it are looked at: a fresh output folder costs one look, not one per file. The names
// not found there are marked in freeNames.
std::vector<std::optional<SFileId>> IdsOfOutputs(const std::vector<std::string>& outputs,
                                                 std::vector<bool>& freeNames)
{
    std::vector<std::optional<SFileId>> ids(outputs.size());
    freeNames.assign(outputs.size(), false);
    std::unordered_map<std::string_view, std::vector<std::size_t>> byFolder;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!outputs[i].empty())
            byFolder[std::string_view(outputs[i]).substr(0, outputs[i].rfind('/') + 1)].push_back(i);
    }
    for (const auto& [folder, indices] : byFolder) {
        std::optional<std::unordered_set<std::string>> names;
        if (indices.size() >= kOutputsForListing && !folder.empty())
            names = NamesIn(std::string(folder));
        for (const std::size_t i : indices) {
            if (!names || names->contains(outputs[i].substr(folder.size())))
                ids[i] = IdOf(outputs[i]);
            else
                freeNames[i] = true;
        }
    }
    return ids;
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
// folder, whose absolute path goes to strOutputDir. Empty where the input has no absolute path.
std::vector<std::string> NameOutputs(const SBatchRequest& request, const std::vector<std::string>& inputs,
                                     const std::string& strCwd, std::string& strOutputDir)
{
    const SOutputTemplate outputTemplate{request.strPrefix, request.strSuffix, request.strExtension};
    std::vector<std::string> outputs(inputs.size());
    if (inputs.size() == 1 && request.fdOutput >= 0) {
        outputs[0].push_back('-'); // standard output: never a path of the batch
        return outputs;
    }
    if (inputs.size() == 1 && !request.strOutputFile.empty()) {
        outputs[0] = AbsoluteIn(strCwd, request.strOutputFile);
        return outputs;
    }
    if (!request.strOutputDir.empty()) {
        strOutputDir = AbsoluteIn(strCwd, request.strOutputDir);
        if (!strOutputDir.empty() && strOutputDir.back() != '/')
            strOutputDir += '/';
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i].empty())
            continue;
        const std::size_t nNameStart = inputs[i].rfind('/') + 1;
        const std::string strName = outputTemplate.BuildOutputName(inputs[i].substr(nNameStart));
        if (strOutputDir.empty()) {
            outputs[i] = inputs[i].substr(0, nNameStart) + strName;
        } else {
            const std::string& strSub = i < request.subFolders.size() ? request.subFolders[i] : std::string();
            outputs[i] = strOutputDir;
            outputs[i].append(strSub).append(strName);
        }
    }
    return outputs;
}

// Where a file of the batch is or would be: its folder by device and inode and its name there, so that two
// spellings of one folder (through "..", a link, the output folder) give one key whether or not the file
// exists yet. A folder that cannot be looked at keeps its path as it is spelled.
struct SPlaceKey
{
    std::optional<SFileId> folderId;
    std::string strFolder; // only where folderId is missing
    std::string strName;
    // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy 14 misreads the defaulted comparison
    auto operator<=>(const SPlaceKey&) const = default;
};

// Looks at each distinct folder once, however many files of the batch lie in it.
class CPlaceKeys
{
public:
    std::optional<SPlaceKey> KeyOf(const std::string& strPath)
    {
        if (strPath.empty())
            return std::nullopt;
        const std::size_t nNameStart = strPath.rfind('/') + 1;
        std::string strFolder = strPath.substr(0, nNameStart);
        auto [it, bNew] = m_folderIds.try_emplace(strFolder);
        if (bNew)
            it->second = IdOf(strFolder);
        SPlaceKey key{it->second, {}, strPath.substr(nNameStart)};
        if (!key.folderId)
            key.strFolder = std::move(strFolder);
        return key;
    }

private:
    std::unordered_map<std::string, std::optional<SFileId>> m_folderIds;
};

// Marks the outputs whose place is that of an input of the batch: the same name in the same folder,
// however either path spells it.
void MarkOutputsInInputPlaces(const std::vector<std::optional<SPlaceKey>>& inputKeys,
                              const std::vector<std::optional<SPlaceKey>>& outputKeys,
                              std::vector<bool>& marks)
{
    std::vector<SPlaceKey> sortedInputs;
    sortedInputs.reserve(inputKeys.size());
    for (const std::optional<SPlaceKey>& key : inputKeys) {
        if (key)
            sortedInputs.push_back(*key);
    }
    std::sort(sortedInputs.begin(), sortedInputs.end());
    for (std::size_t i = 0; i < outputKeys.size(); ++i) {
        if (outputKeys[i] && std::binary_search(sortedInputs.begin(), sortedInputs.end(), *outputKeys[i]))
            marks[i] = true;
    }
}

// Marks the outputs that are an input of the batch reached by another path (a link to the file itself).
// Only where outputs exist already are the inputs looked at, so that a fresh run looks at each name once.
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
    // An input read from a descriptor has no place; the decryptor compares its output with the descriptor.
    const bool bInputByDescriptor = nCount == 1 && request.fdInput >= 0;
    const std::vector<std::string> noPaths;

    SBatchPlan plan;
    plan.outputs = NameOutputs(request, inputs, strCwd, plan.strOutputDir);
    std::vector<std::optional<SFileId>> outputIds = IdsOfOutputs(plan.outputs, plan.freeOutputNames);
    if (nCount == 1 && request.fdOutput >= 0)
        outputIds[0].reset(); // "-" names standard output, not a file
    CPlaceKeys places;
    std::vector<std::optional<SPlaceKey>> inputKeys(nCount);
    std::vector<std::optional<SPlaceKey>> outputKeys(nCount);
    for (std::size_t i = 0; i < nCount; ++i) {
        if (!bInputByDescriptor)
            inputKeys[i] = places.KeyOf(inputs[i]);
        outputKeys[i] = places.KeyOf(plan.outputs[i]);
    }
    // An output in the place of an input of the batch, or that is an input file reached by a link.
    std::vector<bool> replacesInput(nCount, false);
    MarkOutputsInInputPlaces(inputKeys, outputKeys, replacesInput);
    MarkOutputsThatAreInputFiles(bInputByDescriptor ? noPaths : request.paths, outputIds, replacesInput);
    // Two entries that would write the same output: the same place, or one existing file by two places.
    std::vector<bool> shared(nCount, false);
    MarkShared(outputKeys, shared);
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

bool IsFinishedOutput(const struct stat& input, const std::string& strOutputPath)
{
    struct stat output
    {
    };
    return S_ISREG(input.st_mode) && StatByRule(strOutputPath, false, output) == 0 &&
           S_ISREG(output.st_mode) && output.st_uid == ::geteuid() && output.st_size == input.st_size;
}

bool IsFinishedOutput(const std::string& strInputPath, const std::string& strOutputPath)
{
    struct stat input
    {
    };
    return StatByRule(strInputPath, true, input) == 0 && IsFinishedOutput(input, strOutputPath);
}

} // namespace brasko
