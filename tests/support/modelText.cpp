#include "tests/support/modelText.h"

#include "tests/support/testSupport.h"

#include <QAbstractItemModel>
#include <QMenu>
#include <QMetaEnum>

QStringList columnTexts(const QAbstractItemModel* model, int column)
{
    QStringList texts;
    for (int r = 0; r < model->rowCount(); ++r)
        texts << model->index(r, column).data().toString();
    return texts;
}

QStringList rowTexts(const QAbstractItemModel* model, const QString& separator)
{
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        rows << cells.join(separator);
    }
    return rows;
}

QStringList treeLines(const QAbstractItemModel* model, const QModelIndex& parent, int depth)
{
    QStringList lines;
    for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex name = model->index(r, 0, parent);
        lines << QString(depth * 2, QLatin1Char(' ')) + name.data().toString() + QLatin1Char('|')
                + name.sibling(r, 1).data().toString()
              << treeLines(model, name, depth + 1);
    }
    return lines;
}

QStringList menuEntries(const QMenu* menu)
{
    QStringList entries;
    for (const QAction* a : menu->actions())
        entries << (a->isSeparator() ? QStringLiteral("---")
                                     : a->text() + (a->isEnabled() ? QString() : QStringLiteral(" [off]")));
    return entries;
}

QString enabledActions(const QWidget* window, const QStringList& names)
{
    QStringList enabled;
    for (const QString& name : names)
        if (const auto* action = window->findChild<QAction*>(name); action && action->isEnabled())
            enabled << name;
    return enabled.join(QLatin1Char(' '));
}

QString treeActions(const QWidget* mainWindow)
{
    return enabledActions(mainWindow, { "createOrg", "addRow", "editRow", "deleteRow", "deleteDB", "hosts" });
}

QStringList boxTexts(const ModalAnswerer& answerer)
{
    QStringList texts;
    for (const ModalAnswerer::Box& box : answerer.boxes)
        texts << QString::fromLatin1(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box.icon)) + QLatin1Char(' ')
                + box.title + QStringLiteral(": ") + box.text;
    return texts;
}
