#pragma once

#include "db/sqlResult.h"

#include <QStringList>
#include <QVector>

class DB;

// The tree's rules that the database itself keeps, whoever writes it (another copy of the
// program, another client, SQL typed by hand): a branch's parent row exists, there is one
// organisation, and every host's subnet has its tree row. Plain SQL triggers, so that every
// client's writes keep working. The program checks first, with its own messages, and never
// reaches them in normal use; a row deleted while it has branches cannot be told apart from
// emptying the table and stays guarded by the program alone.
namespace treeRules {

// One trigger: its name, the event it guards ("INSERT ON subnets"), the condition under which
// it refuses the row (SQLite's SQL, NEW and OLD as in a trigger) and the text it raises.
struct Rule {
    QString name, event, when, raised;
};
QVector<Rule> rules();
// What a server raises beside them: a branch outside its parent's subnet, or overlapping one of
// its siblings (a file leaves those to the program's own checks).
QString outsideParent();
QString overlapping();

// Creates the triggers that are missing. A database that another program holds locked, or one
// that cannot be written, is left as it is (and reported as success): they come with the next
// chance to write.
SqlResult prepare(DB& db);
// The rules as SQLite triggers.
QStringList createStatements();
// What the user is told when a trigger refused a row: the text the program's own check gives,
// as a failure that no caller takes for a duplicate. Other failures come back unchanged.
Status explained(const Status& failure);
// Said of every refusal that another user's change, come in meanwhile, caused.
QString changedElsewhere();

} // namespace treeRules
