#include "tests/support/testSupport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(widget, char(ch.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

void clickButton(QWidget* window, const char* name)
{
    QTest::mouseClick(window->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}

static QPoint cellCentre(QAbstractItemView* view, const QModelIndex& index)
{
    view->scrollTo(index);
    return view->visualRect(index).center();
}

void clickCell(QAbstractItemView* view, const QModelIndex& index, Qt::KeyboardModifiers keys)
{
    QTest::mouseClick(view->viewport(), Qt::LeftButton, keys, cellCentre(view, index));
}

void doubleClickCell(QAbstractItemView* view, const QModelIndex& index)
{
    const QPoint at = cellCentre(view, index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

bool typeIntoCell(QAbstractItemView* view, int row, int column, const QString& text)
{
    const QModelIndex index = view->model()->index(row, column);
    doubleClickCell(view, index);
    if (!QTest::qWaitFor([&] { return view->indexWidget(index) != nullptr; }, 2000))
        return false;
    auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(index));
    if (!editor)
        return false;
    editor->selectAll();
    typeText(editor, text);
    QTest::keyClick(editor, Qt::Key_Enter);
    return QTest::qWaitFor([&] { return view->indexWidget(index) == nullptr; }, 5000);
}

QStandardItemModel* hostRows(QWidget* hostsWindow)
{
    return qobject_cast<QStandardItemModel*>(hostsWindow->findChild<QTableView*>(QStringLiteral("tableView"))->model());
}

void pressBoxButton(QMessageBox* box, QMessageBox::StandardButton button)
{
    if (QAbstractButton* b = box->button(button))
        b->click();
    else if (box->escapeButton())
        box->escapeButton()->click();
    else
        box->reject();
}

void retype(QLineEdit* edit, const QString& text)
{
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    typeText(edit, text);
}

void clickDialogButton(QWidget* dialog, QDialogButtonBox::StandardButton button)
{
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(button), Qt::LeftButton);
}

void thenMenuEntry(ModalAnswerer& answerer, const QString& text)
{
    answerer.then([&answerer, text](QWidget* w) {
        auto* menu = qobject_cast<QMenu*>(w);
        for (QAction* a : w->actions()) {
            if (menu && a->text() == text && a->isEnabled()) {
                menu->setActiveAction(a);
                QTimer::singleShot(0, menu, [menu] { QTest::keyClick(menu, Qt::Key_Return); });
                return;
            }
        }
        answerer.unexpected << QStringLiteral("no enabled menu entry ") + text;
        w->close();
    });
}

void thenScanDialog(ModalAnswerer& answerer, const QString& port, bool fast)
{
    answerer.then([port, fast](QWidget* dialog) {
        auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("cbFast"));
        if (!port.isNull()) {
            QTest::keyClick(dialog->findChild<QRadioButton*>(QStringLiteral("rbTCP")), Qt::Key_Space);
            QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("port")), port);
        } else if (box->isChecked() != fast) {
            QTest::keyClick(box, Qt::Key_Space);
        }
        clickDialogButton(dialog);
    });
}

void scanFromWindow(ModalAnswerer& answerer, QWidget* hostsWindow, const QString& port, int boxes)
{
    thenScanDialog(answerer, port);
    for (int i = 0; i < boxes; ++i)
        answerer.thenBox();
    clickButton(hostsWindow, "pbScan");
    QTRY_COMPARE_WITH_TIMEOUT(answerer.pending(), 0, 30000); // the scan ends with its last box
}

ModalAnswerer::ModalAnswerer()
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start(5);
}

ModalAnswerer::~ModalAnswerer() = default;

QString ModalAnswerer::problems() const
{
    QStringList out = unexpected;
    if (!handlers.isEmpty())
        out << QStringLiteral("%1 handler(s) never ran").arg(handlers.size());
    return out.join(QStringLiteral("; "));
}

void ModalAnswerer::then(std::function<void(QWidget*)> handler)
{
    handlers.enqueue(std::move(handler));
}

void ModalAnswerer::thenBox(QMessageBox::StandardButton button)
{
    then([this, button](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) {
            unexpected << QStringLiteral("expected a message box, got ") + w->metaObject()->className();
            w->close();
            return;
        }
        boxes << Box { box->icon(), box->windowTitle(), box->text(), box->standardButton(box->defaultButton()) };
        pressBoxButton(box, button);
    });
}

void ModalAnswerer::poll()
{
    QWidget* w = QApplication::activePopupWidget();
    if (!w)
        w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || w->property("zarvinTestAnswered").toBool())
        return;
    w->setProperty("zarvinTestAnswered", true);
    if (handlers.isEmpty()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        unexpected << QStringLiteral("%1: %2").arg(w->metaObject()->className(), box ? box->text() : w->windowTitle());
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->reject();
        else
            w->close();
        return;
    }
    // Run the handler outside this timer slot, so a modal it opens is answered in turn.
    QTimer::singleShot(0, this, [handler = handlers.dequeue(), target = QPointer<QWidget>(w)] {
        if (target)
            handler(target);
    });
}
