#include "hosts/compareWindow.h"

#include "gui/messages.h"
#include "hosts/scan/scanHistory.h"

#include <QAbstractTableModel>
#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {

using Rows = QVector<scanHistory::Comparison::Row>;

// The rows as they came, shown column by column: no items, and each time is formatted only when
// it is drawn, so a list of a /16 fills at once.
class textTable : public QAbstractTableModel {
public:
    textTable(const QStringList& headerTexts, QObject* parent)
        : QAbstractTableModel(parent)
        , headers(headerTexts)
    { }
    void setRows(Rows replacement)
    {
        beginResetModel();
        rows = std::move(replacement);
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows.size(); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : headers.size(); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        return cell(rows.at(index.row()), index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return headers.value(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    // One line per row, cells separated by tabs: pastes into a spreadsheet as columns.
    QString text() const
    {
        QStringList lines;
        lines.reserve(rows.size());
        for (const auto& row : rows) {
            QStringList cells;
            for (int column = 0; column < headers.size(); ++column)
                cells << cell(row, column);
            lines << cells.join(QLatin1Char('\t'));
        }
        return lines.join(QLatin1Char('\n'));
    }

private:
    static QString cell(const scanHistory::Comparison::Row& row, int column)
    {
        switch (column) {
        case 0:
            return row.address;
        case 1:
            return row.note;
        default:
            return row.lastSeen ? scanHistory::shownTime(*row.lastSeen) : QStringLiteral("никогда");
        }
    }

    QStringList headers;
    Rows rows;
};

textTable* tableOf(QTableView* view)
{
    return static_cast<textTable*>(view->model());
}

} // namespace

compareWindow::compareWindow(DB& database, const QString& windowSubnet, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , db(database)
    , subnet(windowSubnet)
{
    setObjectName(QStringLiteral("compareWindow"));
    setWindowTitle(QStringLiteral("Сверка с базой: ") + subnet);
    auto* layout = new QVBoxLayout(this);
    scanLabel = new QLabel(this);
    scanLabel->setObjectName(QStringLiteral("scanLabel"));
    scanLabel->setWordWrap(true);
    layout->addWidget(scanLabel);
    auto* lists = new QHBoxLayout();
    layout->addLayout(lists, 1);
    fresh = addList("listNew", QStringLiteral("Новые"), "pbCopyNew");
    silent = addList("listSilent", QStringLiteral("Молчат"), "pbCopySilent");
    answering = addList("listAnswering", QStringLiteral("Отвечают"), "pbCopyAnswering");
    for (const List* list : { &fresh, &silent, &answering })
        lists->addWidget(list->box, list == &fresh ? 1 : 2);
    new textTable({ QStringLiteral("IP-адрес") }, fresh.view);
    new textTable(
        { QStringLiteral("IP-адрес"), QStringLiteral("Примечание"), QStringLiteral("Последний ответ") }, silent.view);
    new textTable({ QStringLiteral("IP-адрес"), QStringLiteral("Примечание") }, answering.view);
    for (const List* list : { &fresh, &silent, &answering }) {
        list->view->setModel(list->view->findChild<textTable*>());
        list->view->setColumnWidth(0, 120);
        list->view->horizontalHeader()->setStretchLastSection(true);
    }
    // The note takes what the address and the time leave.
    silent.view->horizontalHeader()->setStretchLastSection(false);
    silent.view->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    silent.view->setColumnWidth(2, 130);
    resize(1000, 560);
}

compareWindow::List compareWindow::addList(const char* name, const QString& title, const char* copyName)
{
    List list;
    list.title = title;
    list.box = new QGroupBox(this);
    auto* layout = new QVBoxLayout(list.box);
    list.view = new QTableView(list.box);
    list.view->setObjectName(QString::fromLatin1(name));
    list.view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list.view->setSelectionBehavior(QAbstractItemView::SelectRows);
    list.view->verticalHeader()->hide();
    layout->addWidget(list.view);
    auto* button = new QPushButton(QStringLiteral("Копировать список"), list.box);
    button->setObjectName(QString::fromLatin1(copyName));
    layout->addWidget(button);
    QTableView* view = list.view;
    connect(
        button, &QPushButton::clicked, this, [view] { QGuiApplication::clipboard()->setText(tableOf(view)->text()); });
    return list;
}

void compareWindow::refresh()
{
    const Result<std::optional<scanHistory::ScanRecord>> last = scanHistory::lastScan(db, subnet);
    const std::optional<scanHistory::ScanRecord>& scan = last.value;
    const Result<scanHistory::Comparison> lists
        = scan ? scanHistory::compare(db, *scan) : Result<scanHistory::Comparison>(scanHistory::Comparison());
    const Status read = last.ok() ? Status(lists) : Status(last);
    if (!read.ok()) {
        messages::error(this, QStringLiteral("Не удалось прочитать историю сканирований: ") + read.errorText);
        return;
    }
    scanLabel->setText(scan
            ? scanHistory::scanTitle(*scan)
            : QStringLiteral("Подсеть ") + subnet + QStringLiteral(" не сканировалась: сверять не с чем"));
    showLists(lists.value);
}

void compareWindow::showLists(const scanHistory::Comparison& lists)
{
    const std::pair<const List*, const QVector<scanHistory::Comparison::Row>*> parts[]
        = { { &fresh, &lists.fresh }, { &silent, &lists.silent }, { &answering, &lists.answering } };
    for (const auto& [list, rows] : parts) {
        tableOf(list->view)->setRows(*rows);
        list->box->setTitle(QStringLiteral("%1 (%2)").arg(list->title).arg(rows->size()));
    }
}
