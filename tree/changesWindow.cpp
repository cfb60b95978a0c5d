#include "tree/changesWindow.h"

#include "db/DB.h"
#include "gui/fileDialog.h"
#include "gui/messages.h"
#include "gui/typingPause.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Operations read at a time: a screenful and more, so that scrolling seldom waits.
constexpr int pageSize = 200;

} // namespace

changesModel::changesModel(DB& db_, QObject* parent)
    : QAbstractTableModel(parent)
    , db(db_)
{ }

Status changesModel::setFilter(const changeLog::Filter& wanted)
{
    beginResetModel();
    filter = wanted;
    shown.clear();
    complete = false;
    const Status read = readPage();
    endResetModel();
    return read;
}

Status changesModel::readPage()
{
    const qint64 below = shown.isEmpty() ? 0 : shown.last().operation;
    const Result<QVector<changeLog::Line>> page = changeLog::page(db, filter, below, pageSize);
    if (!page.ok()) {
        complete = true;
        return page;
    }
    complete = page.value.size() < pageSize;
    shown += page.value;
    return {};
}

int changesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shown.size();
}

int changesModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : changeLog::titles().size();
}

QVariant changesModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return changeLog::cells(shown.at(index.row())).value(index.column());
}

QVariant changesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return changeLog::titles().value(section);
}

bool changesModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && !complete;
}

void changesModel::fetchMore(const QModelIndex& parent)
{
    if (parent.isValid() || complete)
        return;
    const int first = shown.size();
    // A failure mid-way ends the list where it is; the first page's failure was shown already.
    (void)readPage();
    if (shown.size() == first)
        return;
    beginInsertRows(QModelIndex(), first, shown.size() - 1);
    endInsertRows();
}

Status changesModel::fetchAll()
{
    while (!complete) {
        const int first = shown.size();
        if (const Status read = readPage(); !read.ok())
            return read;
        if (shown.size() > first) {
            beginInsertRows(QModelIndex(), first, shown.size() - 1);
            endInsertRows();
        }
    }
    return {};
}

changesWindow::changesWindow(DB& db_, const QString& branchSubnet, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , db(db_)
{
    setObjectName(QStringLiteral("changesWindow"));
    setWindowTitle(QStringLiteral("Журнал изменений"));
    filterText = new QLineEdit(this);
    filterText->setObjectName(QStringLiteral("changesFilter"));
    filterText->setPlaceholderText(QStringLiteral("IP-адрес, подсеть, наименование, примечание или пользователь"));
    filterText->setClearButtonEnabled(true);
    branchOnly = new QCheckBox(this);
    branchOnly->setObjectName(QStringLiteral("changesBranchOnly"));
    auto* exportButton = new QPushButton(QStringLiteral("Экспорт в CSV…"), this);
    exportButton->setObjectName(QStringLiteral("changesExport"));
    model = new changesModel(db, this);
    table = new QTableView(this);
    table->setObjectName(QStringLiteral("changesTable"));
    table->setModel(model);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    failure = new QLabel(this);
    failure->setObjectName(QStringLiteral("changesFailure"));
    failure->setWordWrap(true);
    failure->hide();
    auto* top = new QHBoxLayout;
    top->addWidget(filterText, 1);
    top->addWidget(branchOnly);
    top->addWidget(exportButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table);
    layout->addWidget(failure);
    resize(1000, 480);

    pause = typingPause(filterText);
    connect(pause, &QTimer::timeout, this, &changesWindow::reload);
    connect(branchOnly, &QCheckBox::toggled, this, &changesWindow::reload);
    connect(exportButton, &QPushButton::clicked, this, &changesWindow::exportShown);
    setBranch(branchSubnet);
    reload();
}

changesWindow::~changesWindow() = default;

void changesWindow::setBranch(const QString& subnet)
{
    const bool changed = subnet != branch;
    branch = subnet;
    branchOnly->setText(subnet.isEmpty() ? QStringLiteral("Только выбранный филиал и ниже")
                                         : QStringLiteral("Только ") + subnet + QStringLiteral(" и ниже"));
    branchOnly->setEnabled(!subnet.isEmpty());
    if (subnet.isEmpty() && branchOnly->isChecked())
        branchOnly->setChecked(false); // reloads
    else if (changed && branchOnly->isChecked())
        reload();
}

void changesWindow::reload()
{
    pause->stop();
    const Status read = model->setFilter(
        { filterText->text(), branchOnly->isChecked() && branchOnly->isEnabled() ? branch : QString() });
    // No box for a read nobody asked for in so many words: the line under the table says it.
    failure->setText(read.ok() ? QString() : QStringLiteral("Журнал не прочитан: ") + read.errorText);
    failure->setVisible(!read.ok());
    for (int column = 0; column < 3; ++column) // time, user, change: read whole
        table->resizeColumnToContents(column);
}

void changesWindow::followChanges()
{
    // A reader deep in the log keeps their place; at the top the newest entries come in.
    if (table->verticalScrollBar()->value() == 0)
        reload();
}

void changesWindow::exportShown()
{
    const QString path = fileDialog::saveFile(this, QStringLiteral("Экспорт в CSV"), fileDialog::csvFilter(),
        QStringLiteral("zarvin-changes.csv"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    Status written = model->fetchAll();
    if (written.ok())
        written = changeLog::exportTo(model->lines(), path);
    if (!written.ok())
        messages::error(
            this, QStringLiteral("Журнал не записан в ") + path + QStringLiteral(":\n") + written.errorText);
}
