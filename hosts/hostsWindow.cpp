#include "hosts/hostsWindow.h"

#include "db/DB.h"
#include "db/changeLog.h"
#include "gui/lazyToolTips.h"
#include "gui/messages.h"
#include "hosts/RegExpDelegate.h"
#include "hosts/hostCheck.h"
#include "hosts/hostItemModel.h"
#include "hosts/hostModel.h"
#include "hosts/hostTable.h"
#include "hosts/noteDelegate.h"
#include "ui_hostsWindow.h"

#include <QHeaderView>
#include <QMenu>
#include <QStandardItemModel>

hostsWindow::hostsWindow(const QString& item_id, QWidget* parent)
    : QWidget(parent)
    , hosts(std::make_unique<Ui::Hosts>())
    , windowSubnet(item_id)
{
    hosts->setupUi(this);
    db = std::make_unique<DB>();
    delegate = std::make_unique<RegExpDelegate>();
    tableModel();
    hosts->tableView->setItemDelegateForColumn(1, new NoteDelegate(this));
    connect(hosts->pbSave, &QPushButton::clicked, this, [this] { saveData(windowSubnet); });
    connect(hosts->pbAddRow, &QPushButton::clicked, this, &hostsWindow::addRow);
    connect(hosts->pbClose, &QPushButton::clicked, this, &QWidget::close);
    connect(hosts->pbLoad, &QPushButton::clicked, this, [this] { viewRecords(windowSubnet); });
    connect(hosts->pbScan, &QPushButton::clicked, this, &hostsWindow::scanWindow);
    connect(hosts->pbDeleteRows, &QPushButton::clicked, this, [this] { deleteRecords(windowSubnet); });
    // Kept as spelt ("Delele"): the form's object name, which form files and scripts look up.
    connect(hosts->pbDeleleAll, &QPushButton::clicked, this, &hostsWindow::deleteAll);
    connect(hosts->pbCompare, &QPushButton::clicked, this, &hostsWindow::openComparison);
    connect(hosts->pbFreeAddress, &QPushButton::clicked, this, &hostsWindow::addFreeAddress);
    connect(hosts->pbExport, &QPushButton::clicked, this, &hostsWindow::exportCsv);
    connect(hosts->pbImport, &QPushButton::clicked, this, &hostsWindow::importCsv);
    watchModel();
    watchScan();
    hosts->tableView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(hosts->tableView, &QWidget::customContextMenuRequested, this, &hostsWindow::contextMenu);
    // Read for the hovered note alone: a list of thousands of hosts asks nothing beforehand.
    new lazyToolTips(hosts->tableView, [this](const QModelIndex& index) {
        return index.column() == 1 ? changeLog::lastChangeOfHost(*db, index.siblingAtColumn(0).data().toString())
                                   : QString();
    });
    hosts->labelPort->hide();
    hosts->progressBar->hide();
    buildBars();
    // The size it will be shown with, so that the opener centres what the user will see.
    resize(size().expandedTo(minimumSizeHint()));
}

const Status& hostsWindow::dbStatus() const
{
    return db->status();
}

hostsWindow::~hostsWindow() = default;

void hostsWindow::addRow()
{
    model->appendRow({ new QStandardItem(QStringLiteral("")), new QStandardItem(QStringLiteral("")) });
}

void hostsWindow::tableModel()
{
    showModel(hostModel::newModel(this));
}

void hostsWindow::showModel(hostItemModel* filled)
{
    QTableView* view = hosts->tableView;
    view->setItemDelegateForColumn(0, delegate.get());
    hostItemModel* previous = model;
    QItemSelectionModel* previousSelection = view->selectionModel();
    model = filled;
    // A view that already shows the rows would lay out each one as it comes: fill first, then show.
    view->setModel(model);
    if (previousSelection)
        previousSelection->deleteLater();
    if (previous)
        previous->deleteLater();
    view->setEditTriggers(QAbstractItemView::DoubleClicked);
    header = view->horizontalHeader();
    view->setColumnWidth(0, 170);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    refreshHints();
}

void hostsWindow::watchModel()
{
    connect(model, &QAbstractItemModel::dataChanged, this, &hostsWindow::validateIP);
}

void hostsWindow::contextMenu(const QPoint& point)
{
    if (menu)
        menu->deleteLater();
    menu = new QMenu(this);
    const bool empty = model->rowCount() == 0;
    const bool selected = !empty && !hosts->tableView->selectionModel()->selectedIndexes().isEmpty();
    menu->addAction(QStringLiteral("Сохранить"), this, [this] { saveData(windowSubnet); })->setEnabled(!empty);
    menu->addAction(QStringLiteral("Добавить строку"), this, &hostsWindow::addRow);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Загрузить из БД"), this, [this] { viewRecords(windowSubnet); });
    menu->addAction(QStringLiteral("Сканировать подсеть"), this, &hostsWindow::scanWindow);
    menu->addSeparator();
    // Kept as is, two blanks and all: the entry text users and their scripts know.
    menu->addAction(QStringLiteral("Удалить  строку"), this, [this] { deleteRecords(windowSubnet); })
        ->setEnabled(selected);
    menu->addAction(QStringLiteral("Удалить все хосты"), this, &hostsWindow::deleteAll);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Закрыть"), this, &QWidget::close);
    QWidget* anchor = focusWidget() ? focusWidget() : hosts->tableView->viewport();
    menu->exec(anchor->mapToGlobal(point));
}

void hostsWindow::validateIP(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles)
{
    if (hostModel::onlyMarks(roles))
        return; // the text of the row was checked when it changed
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
        for (int column = topLeft.column(); column <= bottomRight.column(); ++column)
            checkAddress(row);
}

void hostsWindow::checkAddress(int row)
{
    const QModelIndex cell = model->index(row, 0);
    const hostCheck::Verdict verdict = hostCheck::check(cell.data().toString(), windowSubnet);
    if (verdict.kind == hostCheck::Verdict::Keep)
        return;
    // Clearing is itself an edit: the nested check finds the empty text and sets nothing.
    model->setData(cell, QStringLiteral(""));
    if (verdict.kind == hostCheck::Verdict::Refuse)
        // Kept as is: the hosts window titles its refusals "Ошибка!", unlike the tree's "Ошибка".
        messages::critical(nullptr, QStringLiteral("Ошибка!"), verdict.message);
}

bool hostsWindow::succeeded(const SqlResult& result)
{
    if (result.ok())
        return true;
    messages::error(this, result.errorText);
    return false;
}

QString hostsWindow::notStored(const QString& what, const Status& failure)
{
    QString text = what + QStringLiteral(", база данных не изменилась.\n");
    if (failure.code == sqlite::Busy || failure.code == sqlite::Locked)
        text += QStringLiteral("Базу данных занимает другая программа или другое окно, попробуйте ещё раз.\n");
    return text + failure.errorText;
}

void hostsWindow::saveData(const QString& subnet)
{
    messages::warning(nullptr, QStringLiteral("Внимание!"),
        // Kept as is: "Примечание" capitalised, as the column it names.
        QStringLiteral("Если IP-адрес уже существует в базе данных,\nбудет обновлено только Примечание"));
    // The boxes first: no write lock is held while one waits for the user.
    for (int row = 0; row < model->rowCount(); ++row)
        if (const QStandardItem* address = model->item(row, 0); address && address->text().isEmpty())
            messages::critical(
                nullptr, QStringLiteral("Ошибка!"), QStringLiteral("Ячейка IP-адреса должна быть заполнена"));
    QVector<hostTable::SavedRow> rows;
    QVector<QStandardItem*> written; // their address cells
    for (int row = 0; row < model->rowCount(); ++row) {
        QStandardItem* address = model->item(row, 0);
        if (!address || address->text().isEmpty() || address->data(hostModel::unchangedRole).isValid())
            continue;
        const QStandardItem* note = model->item(row, 1);
        rows << hostTable::SavedRow { address->text(), note ? note->text() : QString(),
            note && note->data(hostModel::noteWrittenRole).toBool() };
        written << address;
    }
    const Status saved = hostTable::saveRows(*db, subnet, rows);
    if (!saved.ok())
        return messages::error(this, notStored(QStringLiteral("Хосты не сохранены"), saved));
    for (QStandardItem* address : written)
        address->setData(true, hostModel::unchangedRole);
    if (const SqlResult stored = hostTable::hostsOfSubnet(*db, subnet); stored.ok())
        storedBySave(stored.rows);
    refreshHints();
}

void hostsWindow::viewRecords(const QString& subnet)
{
    hostItemModel* filled = hostModel::newModel(this);
    const SqlResult stored = hostTable::hostsOfSubnet(*db, subnet);
    if (stored.ok()) {
        hostModel::fill(*filled, stored.rows);
        following = true;
        noteStored(stored.rows);
    }
    showModel(filled);
    watchModel();
    succeeded(stored);
}

void hostsWindow::deleteAll()
{
    if (!messages::question(this, QStringLiteral("Удалить таблицу"),
            // Kept as is: the question speaks of the table though it empties one subnet's list.
            QStringLiteral("Вы действительно хотите удалить ВСЮ таблицу?"), false))
        return;
    if (!succeeded(hostTable::deleteSubnet(*db, windowSubnet)))
        return;
    noteStored({});
    model->clear();
    tableModel();
    watchModel();
}

void hostsWindow::deleteRecords(const QString& subnet)
{
    if (!messages::question(this, QStringLiteral("Удалить строки"),
            QStringLiteral("Вы действительно хотите удалить выбранные строки?"), false))
        return;
    QVariantList selected;
    for (const QModelIndex& row : hosts->tableView->selectionModel()->selectedRows())
        selected << row.data();
    // One transaction: a delete stopped half way would leave half the list for the user to redo.
    if (const Status deleted = hostTable::deleteHosts(*db, selected); !deleted.ok())
        return messages::error(this, notStored(QStringLiteral("Хосты не удалены"), deleted));
    model->clear();
    viewRecords(subnet);
}
