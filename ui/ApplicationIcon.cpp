#include "ApplicationIcon.h"

namespace brasko {

QIcon ApplicationIcon()
{
    return QIcon(QStringLiteral(":/icons/brasko-decrypt.svg"));
}

} // namespace brasko
