#include "tree/findWindow.h"

#include "db/DB.h"
#include "gui/messages.h"
#include "gui/typingPause.h"
#include "tree/inventorySearch.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// Results carry what activating them shows.
constexpr int subnetRole = Qt::UserRole + 1;
constexpr int hostRole = Qt::UserRole + 2;

QList<QStandardItem*> resultRow(const inventorySearch::Hit& hit)
{
    QList<QStandardItem*> row { new QStandardItem(hit.found), new QStandardItem(hit.detail),
        new QStandardItem(hit.where) };
    row.first()->setData(hit.subnet, subnetRole);
    row.first()->setData(hit.host, hostRole);
    for (QStandardItem* item : row)
        item->setToolTip(item->text());
    return row;
}

QString summaryText(const inventorySearch::Found& found)
{
    if (found.total == 0)
        return QStringLiteral("Ничего не найдено");
    const int more = found.total - found.hits.size();
    QString text = QStringLiteral("Найдено: ") + QString::number(found.total);
    if (more > 0)
        text += QStringLiteral(", показаны первые ") + QString::number(found.hits.size()) + QStringLiteral(", ещё ")
            + QString::number(more) + QStringLiteral(" не показаны: уточните запрос");
    return text;
}

} // namespace

findWindow::findWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , db(std::make_unique<DB>())
    , searcher(std::make_unique<inventorySearch::Searcher>(*db))
{
    setObjectName(QStringLiteral("findWindow"));
    setWindowTitle(QStringLiteral("Найти"));
    text = new QLineEdit(this);
    text->setObjectName(QStringLiteral("findText"));
    text->setPlaceholderText(QStringLiteral("IP-адрес, подсеть, наименование или примечание"));
    text->setClearButtonEnabled(true);
    model = new QStandardItemModel(0, 3, this);
    model->setHorizontalHeaderLabels(
        { QStringLiteral("Найдено"), QStringLiteral("Примечание или наименование"), QStringLiteral("Где") });
    results = new QTreeView(this);
    results->setObjectName(QStringLiteral("findResults"));
    results->setModel(model);
    results->setRootIsDecorated(false);
    results->setUniformRowHeights(true);
    results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    results->setSelectionBehavior(QAbstractItemView::SelectRows);
    results->header()->setDefaultSectionSize(200);
    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("findSummary"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(results);
    layout->addWidget(summary);
    resize(760, 420);

    pause = typingPause(text);
    connect(pause, &QTimer::timeout, this, &findWindow::search);
    connect(text, &QLineEdit::returnPressed, this, &findWindow::search);
    connect(results, &QAbstractItemView::activated, this, &findWindow::choose);
}

const Status& findWindow::dbStatus() const
{
    return db->status();
}

findWindow::~findWindow() = default;

void findWindow::search()
{
    pause->stop();
    const inventorySearch::Found found = searcher->find(text->text(), shownAtMost);
    model->removeRows(0, model->rowCount());
    if (!found.status.ok()) {
        summary->clear();
        messages::error(this, found.status.errorText);
        return;
    }
    for (const inventorySearch::Hit& hit : found.hits)
        model->appendRow(resultRow(hit));
    summary->setText(text->text().trimmed().isEmpty() ? QString() : summaryText(found));
    if (model->rowCount() > 0)
        results->setCurrentIndex(model->index(0, 0));
}

void findWindow::choose(const QModelIndex& index)
{
    const QModelIndex first = index.sibling(index.row(), 0);
    const QString subnet = first.data(subnetRole).toString();
    if (!subnet.isEmpty())
        emit activated(subnet, first.data(hostRole).toString());
}
