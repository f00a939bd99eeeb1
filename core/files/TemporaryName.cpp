#include "TemporaryName.h"

#include <algorithm>
#include <cctype>
#include <random>

namespace brasko {

namespace {

constexpr std::size_t kMaxTempStem = 200; // keeps the temporary name below NAME_MAX
constexpr std::size_t kRandomLength = 8;
constexpr std::string_view kTempEnding = ".tmp";

std::string RandomSuffix()
{
    static constexpr std::string_view kAlphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string strSuffix(kRandomLength, 'x');
    for (char& c : strSuffix)
        c = kAlphabet[pick(generator)];
    return strSuffix;
}

} // namespace

std::string MakeTemporaryName(const std::string& strName)
{
    std::string strTemp(1, '.');
    strTemp.append(strName, 0, kMaxTempStem);
    strTemp += '.';
    strTemp += RandomSuffix();
    strTemp += kTempEnding;
    return strTemp;
}

bool IsBatchTemporaryName(std::string_view name)
{
    // "." + at least one character + "." + the random part + ".tmp"
    const std::size_t nTail = 1 + kRandomLength + kTempEnding.size();
    if (name.size() < 2 + nTail || name.front() != '.' || !name.ends_with(kTempEnding))
        return false;
    const std::string_view tail = name.substr(name.size() - nTail);
    return tail.front() == '.' && std::all_of(tail.begin() + 1, tail.begin() + 1 + kRandomLength, [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0;
           });
}

} // namespace brasko
