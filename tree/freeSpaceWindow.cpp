#include "tree/freeSpaceWindow.h"

#include "tree/addressPlan.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

freeSpaceWindow::freeSpaceWindow(const net::Network& network, const QVector<net::Network>& blocks, QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("freeSpaceWindow"));
    setWindowTitle(QStringLiteral("Свободные подсети ") + net::toText(network));
    auto* list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("freeBlocks"));
    list->setHeaderLabels({ QStringLiteral("Подсеть"), QStringLiteral("Адресов") });
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->header()->setDefaultSectionSize(200);
    quint64 free = 0;
    QList<QTreeWidgetItem*> items;
    for (const net::Network& block : blocks) {
        const quint64 count = net::addressCount(block.prefix);
        free += count;
        auto* item = new QTreeWidgetItem({ net::toText(block), QString::number(count) });
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        items << item;
    }
    list->addTopLevelItems(items);
    const quint64 all = net::addressCount(network.prefix);
    auto* summary = new QLabel(blocks.isEmpty() ? QStringLiteral("Свободных адресов нет: филиалы занимают всю подсеть")
                                                : QStringLiteral("Свободно адресов: ") + QString::number(free)
                + QStringLiteral(" из ") + QString::number(all) + QStringLiteral(" (")
                + addressPlan::percentText(free, all) + QStringLiteral("), блоков: ") + QString::number(blocks.size()),
        this);
    summary->setObjectName(QStringLiteral("freeSummary"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list);
    layout->addWidget(summary);
    resize(440, 400);
}
