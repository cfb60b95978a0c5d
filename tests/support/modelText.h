#pragma once

// What a model, a menu or the answered message boxes show, as text a failing QCOMPARE prints.
#include <QModelIndex>
#include <QStringList>

class QAbstractItemModel;
class QMenu;
class QWidget;
class ModalAnswerer;

// The texts of one column, top to bottom.
QStringList columnTexts(const QAbstractItemModel* model, int column = 0);
// Each row with its cells joined by `separator`.
QStringList rowTexts(const QAbstractItemModel* model, const QString& separator = QStringLiteral("|"));
// Each row of a tree as "name|subnet" (its first two columns), indented two blanks per level.
QStringList treeLines(const QAbstractItemModel* model, const QModelIndex& parent = {}, int depth = 0);
// A menu's entries in order: "---" for a separator, " [off]" after a disabled entry.
QStringList menuEntries(const QMenu* menu);
// Which of the actions named (children of `window`) are enabled, in the order given, joined by blanks.
QString enabledActions(const QWidget* window, const QStringList& names);
// Which of the main window's tree commands are enabled: createOrg addRow editRow deleteRow deleteDB hosts.
QString treeActions(const QWidget* mainWindow);
// The message boxes answered so far, as "Icon title: text", the icon by its QMessageBox name:
// "Information", "Warning", "Critical" or "Question".
QStringList boxTexts(const ModalAnswerer& answerer);
