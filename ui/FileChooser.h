#pragma once

#include <QStringList>

#include <optional>

class QWidget;

namespace brasko {

// Asks the user for input files.
class IFileChooser
{
public:
    virtual ~IFileChooser() = default;
    // The full paths the user chose or typed, in the order given; nothing when the user cancelled.
    // Runs modally over pParent.
    virtual std::optional<QStringList> ChooseFiles(QWidget* pParent) = 0;
};

} // namespace brasko
