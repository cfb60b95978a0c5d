// The commands that change the tree: add, delete, empty, rename.
#include "tree/ZarvinWindow.h"

#include "db/DB.h"
#include "db/treeRules.h"
#include "gui/messages.h"
#include "tree/addSubnetsWindow.h"
#include "tree/editSubnetsWindow.h"
#include "tree/subnetTable.h"
#include "ui_zarvinSubnetsGui.h"

#include <QStandardItemModel>

void ZarvinWindow::addSubnet()
{
    const bool organisation = model->rowCount() == 0;
    const std::optional<QString> value = currentSubnet();
    auto dialog = std::make_unique<addSubnetsWindow>(value);
    if (!dialog->dbStatus().ok()) {
        showDbError(dialog->dbStatus().errorText);
        return;
    }
    // Kept as is: the title users and their scripts know ("организцию").
    dialog->setWindowTitle(organisation ? QStringLiteral("Создать организцию") : QStringLiteral("Добавить филиал"));
    if (dialog->exec() != QDialog::Accepted)
        return;
    const Result<QStringList> result = dialog->add(value);
    dialog.reset();
    if (!result.ok())
        messages::error(nullptr, result.errorText);
    // A refused branch still passes through add_child, whose selection check speaks after the refusal.
    const AddOutcome outcome = organisation ? createOrg(result) : add_child(result);
    if (outcome == AddOutcome::DuplicateSubnet)
        messages::error(
            nullptr, QStringLiteral("Подсеть ") + result.value.value(1) + QStringLiteral(" уже существует!"));
}

AddOutcome ZarvinWindow::createOrg(const Result<QStringList>& organisation)
{
    if (!organisation.ok() || organisation.value.size() < 2)
        return AddOutcome::Refused;
    const Result<bool> inserted
        = subnetTable::insertFirstOrganisation(*db, organisation.value.at(0), organisation.value.at(1));
    if (inserted.isConstraint())
        return AddOutcome::DuplicateSubnet;
    if (!inserted.ok()) {
        showDbError(inserted.errorText);
        return AddOutcome::Refused;
    }
    if (!inserted.value) {
        refuseAfterChange(QStringLiteral("В базе данных уже есть организация") + treeRules::changedElsewhere()
            + QStringLiteral(": организация не добавлена"));
        return AddOutcome::Refused;
    }
    load_data();
    return AddOutcome::Added;
}

void ZarvinWindow::delete_item()
{
    const auto subnet = firstSelectedSubnet();
    if (!subnet) {
        messages::warning(this, QStringLiteral("Ошибка"), QStringLiteral("Сначала выберите элемент для удаления."));
        return;
    }
    if (!messages::question(
            this, QStringLiteral("Внимание!"), QStringLiteral("Вы уверены, что хотите удалить этот элемент?"), true))
        return;
    // Branches that the tree on screen does not show came from another user meanwhile.
    const bool branchesShown = model->hasChildren(ui->tree->selectionModel()->selectedIndexes().value(0));
    const Result<bool> deleted = subnetTable::deleteRowWithHosts(*db, *subnet);
    if (!deleted.ok()) {
        showDbError(deleted.errorText);
        return;
    }
    if (!deleted.value) {
        messages::warning(
            // Kept as is: this one warning of the tree is titled "Ошибка!", with the mark.
            this, QStringLiteral("Ошибка!"),
            QStringLiteral("Сначала необходимо удалить дочерние элементы")
                + (branchesShown ? QString() : treeRules::changedElsewhere()));
        if (!branchesShown)
            load_data();
        return;
    }
    load_data();
}

void ZarvinWindow::deleteDB()
{
    if (!messages::question(this, QStringLiteral("Удалить таблицу"),
            // Kept as is: the question speaks of the table though it empties the whole database.
            QStringLiteral("Вы действительно хотите удалить ВСЮ таблицу?"), false))
        return;
    const SqlResult r = subnetTable::deleteEverything(*db);
    if (!r.ok()) {
        showDbError(r.errorText);
        return;
    }
    model->clear();
    update_menu_buttons();
}

void ZarvinWindow::editRow()
{
    const SqlResult current = defaultData();
    if (!current.ok()) {
        showDbError(current.errorText);
        return;
    }
    editSubnetsWindow dialog(current.rows);
    dialog.setWindowTitle(QStringLiteral("Изменить запись"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    updateRecord(dialog.edit(current.rows));
}

SqlResult ZarvinWindow::defaultData()
{
    const auto subnet = currentSubnet();
    if (!subnet)
        return {};
    return subnetTable::rowForEditing(*db, *subnet);
}

void ZarvinWindow::updateRecord(const QStringList& edit)
{
    if (edit.size() < 2)
        return;
    const QString& subnet = edit.at(1);
    const Result<bool> renamed = subnetTable::renameStored(*db, edit.at(0), subnet);
    if (!renamed.ok()) {
        showDbError(renamed.errorText);
        return;
    }
    // An empty subnet: the dialog had no row, and nothing was to be renamed.
    if (!renamed.value && !subnet.isEmpty())
        refuseAfterChange(QStringLiteral("Подсеть ") + subnet + QStringLiteral(" больше не существует")
            + treeRules::changedElsewhere() + QStringLiteral(": строка не переименована"));
    else
        load_data();
}
