#pragma once

// Driving a hosts window as a user would: double click a cell, type, press Enter.

#include "hosts/hostsWindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTimer>

inline QTableView* tableOf(QWidget* window)
{
    return window->findChild<QTableView*>(QStringLiteral("tableView"));
}

inline QStandardItemModel* modelOf(QWidget* window)
{
    return qobject_cast<QStandardItemModel*>(tableOf(window)->model());
}

inline QPushButton* buttonOf(QWidget* window, const char* name)
{
    return window->findChild<QPushButton*>(QString::fromLatin1(name));
}

inline void clickButton(QWidget* window, const char* name)
{
    QTest::mouseClick(buttonOf(window, name), Qt::LeftButton);
}

inline QPoint cellCentre(QAbstractItemView* view, const QModelIndex& index)
{
    view->scrollTo(index);
    return view->visualRect(index).center();
}

inline void clickCell(QAbstractItemView* view, const QModelIndex& index, Qt::KeyboardModifiers keys = {})
{
    QTest::mouseClick(view->viewport(), Qt::LeftButton, keys, cellCentre(view, index));
}

inline void doubleClickCell(QAbstractItemView* view, const QModelIndex& index)
{
    const QPoint at = cellCentre(view, index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

// Types text key by key; unlike QTest::keyClicks it also takes letters outside ASCII.
inline void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 128)
            QTest::keyClick(widget, char(ch.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key(ch.toUpper().unicode()), QString(ch), Qt::NoModifier);
    }
}

// Double clicks the cell and returns the editor that opens, or null.
inline QLineEdit* openEditor(QAbstractItemView* view, const QModelIndex& index)
{
    doubleClickCell(view, index);
    if (!QTest::qWaitFor([&] { return view->indexWidget(index) != nullptr; }, 2000))
        return nullptr;
    return qobject_cast<QLineEdit*>(view->indexWidget(index));
}

// Types `text` into the editor of the cell and presses Enter; true once the editor has closed.
// Message boxes that the commit opens must be answered by a ModalAnswerer.
inline bool typeIntoCell(QAbstractItemView* view, int row, int column, const QString& text)
{
    const QModelIndex index = view->model()->index(row, column);
    QLineEdit* editor = openEditor(view, index);
    if (!editor)
        return false;
    editor->selectAll();
    typeText(editor, text);
    QTest::keyClick(editor, Qt::Key_Enter);
    return QTest::qWaitFor([&] { return view->indexWidget(index) == nullptr; }, 5000);
}

// A right click on the table at the cell (or the empty area below the rows).
inline void rightClickTable(QWidget* window, QPoint at = QPoint(5, 5))
{
    QWidget* viewport = tableOf(window)->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
}

inline QAction* menuEntry(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// Chooses the entry with the mouse, as the user would.
inline void chooseEntry(QMenu* menu, const QString& text)
{
    if (QAction* action = menuEntry(menu, text))
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    else
        menu->close();
}

// From a ModalAnswerer handler: the answerer does not run again until its handler returns, so
// an entry that opens a box of its own must be chosen after the handler.
inline void chooseEntryLater(QMenu* menu, const QString& text)
{
    QTimer::singleShot(0, menu, [menu, text] { chooseEntry(menu, text); });
}
