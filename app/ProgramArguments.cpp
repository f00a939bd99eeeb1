#include "ProgramArguments.h"

#include "TextConversion.h"

#include <string_view>

namespace brasko {

QStringList FileArguments(int argc, const char* const* argv)
{
    QStringList paths;
    bool bSeparatorSeen = false;
    for (int i = 1; i < argc; ++i) {
        if (!bSeparatorSeen && std::string_view(argv[i]) == "--") {
            bSeparatorSeen = true;
            continue;
        }
        paths.append(text::PathFromCore(argv[i]));
    }
    return paths;
}

} // namespace brasko
