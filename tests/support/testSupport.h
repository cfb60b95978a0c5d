#pragma once

#include "tests/support/dataSupport.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QTimer>

#include <functional>

class QAbstractItemView;
class QLineEdit;
class QModelIndex;
class QStandardItemModel;

// Answers the modal dialogs, message boxes and popup menus that open later, in order:
// each one that appears is handed to the next queued handler.
class ModalAnswerer : public QObject {
    Q_OBJECT
public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QMessageBox::StandardButton defaultButton;
    };

    ModalAnswerer();
    ~ModalAnswerer() override;

    void then(std::function<void(QWidget*)> handler);
    // The next modal must be a message box: record it and press `button`.
    void thenBox(QMessageBox::StandardButton button = QMessageBox::Ok);

    int pending() const { return handlers.size(); }
    // Empty when every queued handler ran and no window came unasked; else what went wrong.
    QString problems() const;
    QVector<Box> boxes; // message boxes answered, in order
    QStringList unexpected; // windows that appeared with no handler queued; they were closed

private:
    void poll();
    QTimer timer;
    QQueue<std::function<void(QWidget*)>> handlers;
};

// The visible top-level windows of class W, in no particular order.
template <class W> QList<W*> visibleWindows()
{
    QList<W*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<W*>(w); t && t->isVisible())
            found << t;
    return found;
}

// The rows of a hosts window's table.
QStandardItemModel* hostRows(QWidget* hostsWindow);

// Types text into a widget key by key, Cyrillic included (QTest::keyClicks takes ASCII only).
void typeText(QWidget* widget, const QString& text);

// Replaces what the line edit holds, key by key.
void retype(QLineEdit* edit, const QString& text);

// Clicks the push button named `name` inside `window`.
void clickButton(QWidget* window, const char* name);
void clickCell(QAbstractItemView* view, const QModelIndex& index, Qt::KeyboardModifiers keys = {});
// A first click, then the double click, as the mouse delivers them.
void doubleClickCell(QAbstractItemView* view, const QModelIndex& index);
// Double clicks the cell, types `text` over what its editor holds and presses Enter; true once the
// editor has closed. Message boxes that the commit opens must be answered by a ModalAnswerer.
bool typeIntoCell(QAbstractItemView* view, int row, int column, const QString& text);

// Clicks a standard button of the dialog's button box.
void clickDialogButton(QWidget* dialog, QDialogButtonBox::StandardButton button = QDialogButtonBox::Ok);
// The next modal must be a popup menu: its enabled entry `text` is chosen with Return once the
// handler has returned (the entry may open modals of its own).
void thenMenuEntry(ModalAnswerer& answerer, const QString& text);
// The next modal must be the hosts window's scan dialog: TCP on `port` ("" included), or ICMP when
// `port` is null, through fping when `fast`; then Ok is clicked.
void thenScanDialog(ModalAnswerer& answerer, const QString& port = QString(), bool fast = false);
// Presses the hosts window's "Сканировать", accepts the dialog as thenScanDialog does and answers
// `boxes` message boxes with Ok; returns once they are answered.
void scanFromWindow(ModalAnswerer& answerer, QWidget* hostsWindow, const QString& port = QString(), int boxes = 1);

// Presses a standard button of a message box (its escape button when it has no such button).
void pressBoxButton(QMessageBox* box, QMessageBox::StandardButton button);
