#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace brasko {

// The guards of a batch on the names alone, each O(n log n); entries with an empty output path (none could
// be formed) never match.

// Entries whose output path is the path of one of the inputs: decrypting them would destroy that input.
// Both lists hold paths in one form, one entry per input: absolute ones as AbsolutePath gives them, or
// (the web page) relative ones below one folder as BuildRelativeOutputPath takes and gives them.
std::vector<bool> FindOutputsNamingInputs(const std::vector<std::string>& inputs,
                                          const std::vector<std::string>& outputs);

// Entries whose output path another entry has too: the later would overwrite the earlier.
std::vector<bool> FindSharedOutputs(const std::vector<std::string>& outputs);

// Marks in shared every entry whose key another entry has too (nullopt: the entry has none).
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

} // namespace brasko
