// The browser has no libmagic: the verdict relies on its own signature list alone.
#include "FileTypeLibrary.h"

namespace brasko {

std::string MagicMimeType(std::span<const unsigned char> /*bytes*/)
{
    return {};
}

bool IsMagicLoaded()
{
    return false;
}

} // namespace brasko
