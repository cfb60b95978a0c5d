#include "tree/ZarvinWindow.h"

#include "calc/calculateSubnetsWindow.h"
#include "db/DB.h"
#include "db/changeLog.h"
#include "db/connectionSettings.h"
#include "db/dataAccess.h"
#include "db/treeRules.h"
#include "gui/desktop.h"
#include "gui/lazyToolTips.h"
#include "gui/liveRefresh.h"
#include "gui/messages.h"
#include "hosts/hostsWindow.h"
#include "hosts/scan/scanHistory.h"
#include "tree/changesWindow.h"
#include "tree/connectionWindow.h"
#include "tree/findWindow.h"
#include "tree/subnetTable.h"
#include "tree/treeModel.h"
#include "ui_zarvinSubnetsGui.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyle>
#include <QWindow>

namespace {
const QStringList treeHeaders = { QStringLiteral("Наименование"), QStringLiteral("Подсеть") };
}

ZarvinWindow::ZarvinWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
{
    ui->setupUi(this);
    decorateActions();
    baseTitle = windowTitle();
    db = std::make_unique<DB>();
    showWhere();
    model = new QStandardItemModel(this);
    model->setHorizontalHeaderLabels(treeHeaders);
    ui->tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ui->tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->tree, &QWidget::customContextMenuRequested, this, &ZarvinWindow::contextMenu);
    ui->tree->header()->setDefaultSectionSize(300);
    ui->tree->setModel(model);
    connect(
        ui->tree->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ZarvinWindow::update_menu_buttons);
    if (!db->status().ok())
        return;
    load_data();
    connect(ui->createOrg, &QAction::triggered, this, &ZarvinWindow::addSubnet);
    connect(ui->addRow, &QAction::triggered, this, &ZarvinWindow::addSubnet);
    connect(ui->deleteRow, &QAction::triggered, this, &ZarvinWindow::delete_item);
    connect(ui->deleteDB, &QAction::triggered, this, &ZarvinWindow::deleteDB);
    connect(ui->calculate, &QAction::triggered, this, &ZarvinWindow::calculateSubnet);
    connect(ui->hosts, &QAction::triggered, this, &ZarvinWindow::editHosts);
    connect(ui->close, &QAction::triggered, this, &QWidget::close);
    connect(ui->tree, &QAbstractItemView::doubleClicked, this, &ZarvinWindow::editHosts);
    connect(ui->editRow, &QAction::triggered, this, &ZarvinWindow::editRow);
    connect(ui->find, &QAction::triggered, this, &ZarvinWindow::openFind);
    connect(ui->changeLog, &QAction::triggered, this, &ZarvinWindow::showChanges);
    // Read for the row under the mouse alone: a tree of thousands of rows asks nothing beforehand.
    new lazyToolTips(ui->tree, [this](const QModelIndex& index) {
        return index.column() == 0 ? changeLog::lastChangeOfRow(*db, index.siblingAtColumn(1).data().toString())
                                   : QString();
    });
    watchRowStatus();
    connect(ui->exportCsv, &QAction::triggered, this, &ZarvinWindow::exportInventory);
    connect(ui->importCsv, &QAction::triggered, this, &ZarvinWindow::importInventory);
    connect(ui->backupDb, &QAction::triggered, this, &ZarvinWindow::backupDatabase);
    connect(ui->restoreDb, &QAction::triggered, this, &ZarvinWindow::restoreDatabase);
    connect(ui->connectDb, &QAction::triggered, this, &ZarvinWindow::connectDatabase);
    live = new LiveRefresh(this, nullptr, [this] { followChanges(); });
}

ZarvinWindow::~ZarvinWindow()
{
    delete changes; // before the connection it reads through
}

const Status& ZarvinWindow::dbStatus() const
{
    return db->status();
}

QString ZarvinWindow::dbFileName() const
{
    return db->location();
}

void ZarvinWindow::showWhere()
{
    QString title = baseTitle;
    if (db->status().ok() && db->engine().isServer())
        title += QStringLiteral(" — ") + db->location();
    setWindowTitle(title + (db->isReadOnly() ? QStringLiteral(" (только чтение)") : QString()));
}

void ZarvinWindow::showReadOnlyReason()
{
    delete findChild<QLabel*>(QStringLiteral("readOnlyReason"));
    const bool server = db->engine().isServer();
    // On a server the data directory's rights have nothing to do with the data.
    const QString reason = !server ? readOnlyReason()
        : db->isReadOnly()
        ? QStringLiteral("Пользователь сервера может только читать базу данных %1: право изменять её даёт владелец "
                         "базы данных (GRANT INSERT, UPDATE, DELETE).")
              .arg(db->location())
        : QString();
    if (reason.isEmpty())
        return;
    auto* label = new QLabel(QStringLiteral("Только чтение. ") + reason.simplified(), this);
    label->setObjectName(QStringLiteral("readOnlyReason"));
    // One line whatever its length: a wrapped reason grew the status bar over the tree. What the
    // window is too narrow to show is in the tooltip.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setToolTip(label->text());
    label->setTextInteractionFlags(Qt::TextSelectableByMouse); // the command is there to be copied
    statusBar()->addPermanentWidget(label, 1);
}

void ZarvinWindow::connectDatabase()
{
    const QString before = connectionSettings::savedUrl();
    connectionWindow dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (const Status reopened = reopenDatabase(); !reopened.ok()) {
        (void)connectionSettings::saveUrl(before);
        messages::error(this, reopened.errorText + QStringLiteral("\nПрограмма осталась на прежней базе данных."));
    }
}

Status ZarvinWindow::reopenDatabase()
{
    auto next = std::make_unique<DB>();
    if (const Status& opened = next->status(); !opened.ok())
        return Status::failure(QStringLiteral("Не удалось открыть базу данных ") + next->location()
                + QStringLiteral(":\n") + opened.errorText,
            opened.code);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible())
            w->close();
    delete finder;
    finder = nullptr;
    delete changes; // it reads through the connection that goes now
    db = std::move(next);
    delete live;
    live = new LiveRefresh(this, nullptr, [this] { followChanges(); });
    showWhere();
    showReadOnlyReason();
    load_data();
    update_menu_buttons();
    ui->createOrg->setEnabled(model->rowCount() == 0);
    return {};
}

void ZarvinWindow::decorateActions()
{
    const auto icon = [this](QStyle::StandardPixmap p) { return style()->standardIcon(p); };
    ui->createOrg->setIcon(icon(QStyle::SP_FileDialogNewFolder));
    ui->addRow->setIcon(icon(QStyle::SP_FileDialogListView));
    ui->editRow->setIcon(icon(QStyle::SP_FileDialogDetailedView));
    ui->deleteRow->setIcon(icon(QStyle::SP_DialogDiscardButton));
    ui->deleteDB->setIcon(icon(QStyle::SP_TrashIcon));
    ui->hosts->setIcon(icon(QStyle::SP_ComputerIcon));
    ui->calculate->setIcon(icon(QStyle::SP_FileDialogInfoView));
    ui->close->setIcon(icon(QStyle::SP_DialogCloseButton));
    ui->find->setIcon(icon(QStyle::SP_FileDialogContentsView));
    ui->changeLog->setIcon(icon(QStyle::SP_FileIcon));
}

void ZarvinWindow::showDbError(const QString& text)
{
    messages::error(this, text);
}

void ZarvinWindow::refuseAfterChange(const QString& text)
{
    messages::error(nullptr, text);
    load_data();
}

std::optional<QString> ZarvinWindow::firstSelectedSubnet() const
{
    const QModelIndexList selected = ui->tree->selectionModel()->selectedIndexes();
    if (selected.size() < 2)
        return std::nullopt;
    return selected.at(1).data().toString();
}

std::optional<QString> ZarvinWindow::currentSubnet() const
{
    const QModelIndex current = ui->tree->selectionModel()->currentIndex();
    if (!current.isValid())
        return std::nullopt;
    return current.sibling(current.row(), 1).data().toString();
}

void ZarvinWindow::load_data()
{
    // Read before clearing: an unreadable file keeps the last tree on screen, so an empty
    // view never invites creating a second organisation.
    const SqlResult rows = subnetTable::allRows(*db);
    if (!rows.ok()) {
        showDbError(rows.errorText);
        return;
    }
    showRows(rows.rows);
    update_menu_buttons();
}

void ZarvinWindow::showRows(const QVector<QVariantList>& rows)
{
    shownRows = rows;
    model->clear();
    model->setHorizontalHeaderLabels(treeHeaders);
    treeModel::fill(*model, rows);
    ui->tree->expandAll();
}

void ZarvinWindow::followChanges()
{
    SqlResult rows = subnetTable::allRows(*db);
    // A server that was gone, and told of being back: the connection opens anew at the next statement.
    if (rows.code == sqlite::Unreachable)
        rows = subnetTable::allRows(*db);
    if (rows.ok() && rows.rows != shownRows) {
        const treeModel::ViewState state = treeModel::capture(*ui->tree);
        showRows(rows.rows);
        treeModel::restore(*ui->tree, state);
        update_menu_buttons();
    }
    showRowStatus();
    if (changes)
        changes->followChanges();
}

Result<std::optional<qint64>> ZarvinWindow::get_item_id(const QString& parentSubnet)
{
    const SqlResult r = subnetTable::idOfSubnet(*db, parentSubnet);
    if (!r.ok())
        return Status(r);
    if (r.rows.isEmpty())
        return std::optional<qint64>();
    return std::optional<qint64>(r.rows.first().value(0).toLongLong());
}

AddOutcome ZarvinWindow::add_child(const Result<QStringList>& branch)
{
    if (ui->tree->selectionModel()->selectedIndexes().isEmpty() || !currentSubnet()) {
        messages::warning(this, QStringLiteral("Ошибка"),
            QStringLiteral("Сначала выберите элемент для добавления дочернего элемента."));
        return AddOutcome::Refused;
    }
    if (!branch.ok() || branch.value.size() < 3)
        return AddOutcome::Refused;
    const QStringList& row = branch.value;
    const Result<std::optional<QString>> refusal = subnetTable::insertBranchUnder(*db, row.at(0), row.at(1), row.at(2));
    if (refusal.isConstraint())
        return AddOutcome::DuplicateSubnet;
    if (!refusal.ok()) {
        showDbError(refusal.errorText);
        return AddOutcome::Refused;
    }
    // The dialog's checks passed a moment ago: what breaks a rule now came from another user.
    if (refusal.value) {
        refuseAfterChange(*refusal.value + treeRules::changedElsewhere() + QStringLiteral(": филиал не добавлен"));
        return AddOutcome::Refused;
    }
    load_data();
    return AddOutcome::Added;
}

// The one place that decides which commands apply, from the tree's state alone: an empty tree
// offers only the organisation; a row must be selected for the commands on a row.
void ZarvinWindow::update_menu_buttons()
{
    const bool hasRows = model->rowCount() > 0;
    const bool selected = hasRows && !ui->tree->selectionModel()->selectedIndexes().isEmpty();
    ui->createOrg->setEnabled(!hasRows);
    for (QAction* a : { ui->addRow, ui->editRow, ui->deleteRow, ui->hosts })
        a->setEnabled(selected);
    ui->deleteDB->setEnabled(hasRows);
}

QMenu* ZarvinWindow::buildContextMenu()
{
    if (menu)
        menu->deleteLater();
    menu = new QMenu(this);
    if (model->rowCount() == 0) {
        // Kept as is: the entry users and their scripts know ("организцию").
        menu->addAction(QStringLiteral("Создать организцию"), this, &ZarvinWindow::addSubnet);
    } else if (ui->tree->selectionModel()->selectedIndexes().isEmpty()) {
        menu->addAction(QStringLiteral("Добавить строку"))->setEnabled(false);
        menu->addSeparator();
        // Kept as is, two blanks and all: the entry text users and their scripts know (here and below).
        menu->addAction(QStringLiteral("Удалить  строку"))->setEnabled(false);
        menu->addAction(QStringLiteral("Удалить базу данных"), this, &ZarvinWindow::deleteDB);
    } else {
        menu->addAction(QStringLiteral("Добавить строку"), this, &ZarvinWindow::addSubnet);
        menu->addAction(QStringLiteral("Изменить строку"), this, &ZarvinWindow::editRow);
        menu->addSeparator();
        menu->addAction(QStringLiteral("Удалить  строку"), this, &ZarvinWindow::delete_item);
        menu->addAction(QStringLiteral("Удалить базу данных"), this, &ZarvinWindow::deleteDB);
        menu->addSeparator();
        menu->addAction(QStringLiteral("Калькулятор подсети"), this, &ZarvinWindow::calculateSubnet);
        menu->addAction(QStringLiteral("Учет хостов"), this, &ZarvinWindow::editHosts);
        menu->addAction(QStringLiteral("Свободные подсети…"), this, &ZarvinWindow::showFreeSpace);
    }
    return menu;
}

void ZarvinWindow::contextMenu(const QPoint& point)
{
    QWidget* anchor = focusWidget() ? focusWidget() : ui->tree->viewport();
    buildContextMenu()->exec(anchor->mapToGlobal(point));
}

void ZarvinWindow::editHosts()
{
    if (const auto subnet = firstSelectedSubnet())
        openHostsWindow(*subnet);
}

hostsWindow* ZarvinWindow::openHostsWindow(const QString& subnet)
{
    auto* window = new hostsWindow(subnet);
    if (!window->dbStatus().ok()) {
        showDbError(window->dbStatus().errorText);
        delete window;
        return nullptr;
    }
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Учет хостов для подсети ") + subnet);
    centre(window, 50);
    window->show();
    return window;
}

void ZarvinWindow::calculateSubnet()
{
    calculateSubnetsWindow dialog(currentSubnet());
    dialog.setFixedSize(480, 280);
    // Kept as is: a close button and no other; the calculator is not resized or minimised.
    dialog.setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    dialog.setWindowTitle(QStringLiteral("Калькулятор подсети"));
    dialog.exec();
}
