#include "db/treeRules.h"

#include "db/DB.h"
#include "db/engine.h"

namespace treeRules {

namespace {

// What each trigger raises; recognised in the failure text, never shown.
const QString parentMissing = QStringLiteral("zarvin: branch without its parent row");
const QString secondOrganisation = QStringLiteral("zarvin: second organisation");
const QString subnetMissing = QStringLiteral("zarvin: host without its subnet row");

// Both links name an existing row: the tree is drawn through parent_id, the nesting checks
// go through parent_subnet.
const QString parentGone = QStringLiteral(
    "NEW.parent_id IS NOT NULL AND (NEW.parent_id = NEW.id OR NOT EXISTS (SELECT 1 FROM subnets WHERE id = "
    "NEW.parent_id) OR NOT EXISTS (SELECT 1 FROM subnets WHERE subnet = NEW.parent_subnet))");
const QString otherOrganisation
    = QStringLiteral("NEW.parent_id IS NULL AND EXISTS (SELECT 1 FROM subnets WHERE parent_id IS NULL)");
const QString treeRowGone = QStringLiteral("NOT EXISTS (SELECT 1 FROM subnets WHERE subnet = NEW.subnet)");

} // namespace

QVector<Rule> rules()
{
    return {
        { QStringLiteral("zarvin_branch_added"), QStringLiteral("INSERT ON subnets"), parentGone, parentMissing },
        { QStringLiteral("zarvin_branch_moved"), QStringLiteral("UPDATE OF parent_id, parent_subnet ON subnets"),
            parentGone, parentMissing },
        { QStringLiteral("zarvin_parent_changed"), QStringLiteral("UPDATE OF id, subnet ON subnets"),
            QStringLiteral("(NEW.id IS NOT OLD.id AND EXISTS (SELECT 1 FROM subnets WHERE parent_id = OLD.id)) OR "
                           "(NEW.subnet IS NOT OLD.subnet AND EXISTS (SELECT 1 FROM subnets WHERE parent_subnet = "
                           "OLD.subnet))"),
            parentMissing },
        { QStringLiteral("zarvin_organisation_added"), QStringLiteral("INSERT ON subnets"), otherOrganisation,
            secondOrganisation },
        { QStringLiteral("zarvin_organisation_made"), QStringLiteral("UPDATE OF parent_id ON subnets"),
            QStringLiteral("OLD.parent_id IS NOT NULL AND ") + otherOrganisation, secondOrganisation },
        { QStringLiteral("zarvin_host_subnet_changed"), QStringLiteral("UPDATE OF subnet ON subnets"),
            QStringLiteral("NEW.subnet IS NOT OLD.subnet AND EXISTS (SELECT 1 FROM hosts WHERE subnet = OLD.subnet)"),
            subnetMissing },
        { QStringLiteral("zarvin_host_added"), QStringLiteral("INSERT ON hosts"), treeRowGone, subnetMissing },
        { QStringLiteral("zarvin_host_moved"), QStringLiteral("UPDATE OF subnet ON hosts"), treeRowGone,
            subnetMissing },
    };
}

QString outsideParent()
{
    return QStringLiteral("zarvin: branch outside its parent");
}

QString overlapping()
{
    return QStringLiteral("zarvin: overlapping branches");
}

QStringList createStatements()
{
    QStringList out;
    for (const Rule& r : rules())
        out << QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 BEFORE %2 WHEN %3 BEGIN SELECT RAISE(ABORT, '%4'); END")
                   .arg(r.name, r.event, r.when, r.raised);
    return out;
}

SqlResult prepare(DB& db)
{
    // The usual case reads only, so a database held read-locked by another program still opens.
    if (db.engine().hasRules(db))
        return {};
    // Optional at this point: no reason to hold the window up for the busy time-out.
    const DB::NoWaiting quick(db);
    const SqlResult made = db.runTogether(db.engine().ruleStatements());
    return sqlite::cannotWriteNow(made.code) ? SqlResult() : made;
}

QString changedElsewhere()
{
    return QStringLiteral(" (дерево изменено другим пользователем или в другом окне)");
}

Status explained(const Status& failure)
{
    if (!failure.isConstraint())
        return failure;
    const QString& raised = failure.errorText;
    const QString text = raised.contains(parentMissing) ? QStringLiteral("Родительская подсеть больше не существует")
            + changedElsewhere() + QStringLiteral(": филиал не добавлен")
        : raised.contains(secondOrganisation) ? QStringLiteral("В базе данных уже есть организация")
            + changedElsewhere() + QStringLiteral(": организация не добавлена")
        : raised.contains(subnetMissing) ? QStringLiteral("Подсеть хостов удалена из базы данных") + changedElsewhere()
            + QStringLiteral(": хосты не сохранены")
        : raised.contains(outsideParent()) || raised.contains(overlapping())
        ? QStringLiteral("Подсеть филиала не входит в подсеть родителя или пересекается с подсетью соседнего филиала")
            + changedElsewhere() + QStringLiteral(": филиал не добавлен")
        : QString();
    // Not CONSTRAINT, which callers take for a duplicate address or subnet.
    return text.isEmpty() ? failure : Status::failure(text, sqlite::Abort);
}

} // namespace treeRules
