#pragma once

#include "FileChooser.h"

#include <QFileDialog>
#include <QStyledItemDelegate>

class QLineEdit;
class QPushButton;

namespace brasko {

// The open-file dialog for input files: any number of files can be selected, and names typed into the
// file-name field (one, or several in the quoted form "a" "b") are taken even when no such file exists;
// the batch reports those. Links are listed as themselves. Qt's own dialog, so that it behaves the same on
// every desktop.
class CFECFileDialog : public QFileDialog
{
    Q_OBJECT

public:
    explicit CFECFileDialog(QWidget* pParent = nullptr, const QString& strDirectory = {});

    // The full paths of the accepted selection, in the order of the file-name field.
    const QStringList& SelectedPaths() const { return m_listPaths; }

public slots:
    void accept() override;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    QStringList TypedNames() const;
    void KeepOpenButtonEnabled();
    void SizeForReadableColumns();

    QLineEdit* m_pNameEdit = nullptr;
    QPushButton* m_pOpenButton = nullptr;
    QStringList m_listPaths;
};

// Shows the sizes and dates in the file dialog's lists in the program's locale (QLocale's default, German):
// Qt's file system model formats them in the system's locale, which follows LANG.
class CFileListDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The text shown for index, or a null string where the model's own text is shown.
    static QString LocaleText(const QModelIndex& index);

protected:
    void initStyleOption(QStyleOptionViewItem* pOption, const QModelIndex& index) const override;
};

// The file chooser of the dialog application: runs a CFECFileDialog and starts the next one in the
// folder where the last one ended.
class CFECFileChooser : public IFileChooser
{
public:
    std::optional<QStringList> ChooseFiles(QWidget* pParent) override;

private:
    QString m_strFolder;
};

} // namespace brasko
