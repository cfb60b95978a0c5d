#include "gui/fileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace fileDialog {

namespace {

QString lastFolder; // for this run only

QString startFolder()
{
    return lastFolder.isEmpty() ? QDir::homePath() : lastFolder;
}

QString run(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString path = dialog.selectedFiles().first();
    lastFolder = QFileInfo(path).absolutePath();
    return path;
}

} // namespace

QString openFile(QWidget* parent, const QString& title, const QString& filter)
{
    QFileDialog dialog(parent, title, startFolder(), filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return run(dialog);
}

QString saveFile(
    QWidget* parent, const QString& title, const QString& filter, const QString& suggestedName, const QString& suffix)
{
    QFileDialog dialog(parent, title, startFolder(), filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    dialog.selectFile(suggestedName);
    return run(dialog);
}

} // namespace fileDialog
