#include "OutputGuards.h"

#include <string_view>

namespace brasko {

std::vector<bool> FindOutputsNamingInputs(const std::vector<std::string>& inputs,
                                          const std::vector<std::string>& outputs)
{
    std::vector<std::string_view> sortedInputs;
    sortedInputs.reserve(inputs.size());
    for (const std::string& strInput : inputs) {
        if (!strInput.empty())
            sortedInputs.emplace_back(strInput);
    }
    std::sort(sortedInputs.begin(), sortedInputs.end());
    std::vector<bool> found(outputs.size(), false);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        found[i] = !outputs[i].empty() &&
                   std::binary_search(sortedInputs.begin(), sortedInputs.end(), std::string_view(outputs[i]));
    }
    return found;
}

std::vector<bool> FindSharedOutputs(const std::vector<std::string>& outputs)
{
    std::vector<std::optional<std::string_view>> paths(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!outputs[i].empty())
            paths[i] = outputs[i];
    }
    std::vector<bool> shared(outputs.size(), false);
    MarkShared(paths, shared);
    return shared;
}

} // namespace brasko
