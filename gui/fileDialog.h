#pragma once

#include <QString>

class QWidget;

// Qt's own file dialogs (the same on every desktop), opening in the folder used last in this run.
// Each returns the chosen path, or the empty text when the user cancelled.
namespace fileDialog {

QString openFile(QWidget* parent, const QString& title, const QString& filter);
// Qt's dialog asks before an existing file is replaced; `suffix` is added to a name without one.
QString saveFile(
    QWidget* parent, const QString& title, const QString& filter, const QString& suggestedName, const QString& suffix);

} // namespace fileDialog
