#include "gui/fileDialog.h"

#include "gui/messages.h"

#include <QDir>
#include <QFile>
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

QString csvFilter()
{
    return QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)");
}

bool openForReading(QWidget* parent, QFile& file)
{
    if (file.open(QIODevice::ReadOnly))
        return true;
    messages::error(parent,
        QStringLiteral("Не удалось открыть файл ") + file.fileName() + QStringLiteral(":\n") + file.errorString());
    return false;
}

} // namespace fileDialog
