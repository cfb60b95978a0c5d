#pragma once

#include <QString>

class QFile;
class QWidget;

// Qt's own file dialogs (the same on every desktop), opening in the folder used last in this run.
// Each returns the chosen path, or the empty text when the user cancelled.
namespace fileDialog {

QString openFile(QWidget* parent, const QString& title, const QString& filter);
// Qt's dialog asks before an existing file is replaced; `suffix` is added to a name without one.
QString saveFile(
    QWidget* parent, const QString& title, const QString& filter, const QString& suggestedName, const QString& suffix);

// The filter of the CSV commands' dialogs.
QString csvFilter();
// Opens the chosen `file` for reading; false, once the user has been told why, when it cannot be.
bool openForReading(QWidget* parent, QFile& file);

} // namespace fileDialog
