#pragma once

#include "db/sqlResult.h"

#include <QStringList>

class DB;

// The tree's rules that the file itself keeps, whoever writes it (another copy of the program,
// another SQLite client, SQL typed by hand): a branch's parent row exists, there is one
// organisation, and every host's subnet has its tree row. Plain SQL triggers, so that every
// client's writes keep working. The program checks first, with its own messages, and never
// reaches them in normal use; a row deleted while it has branches cannot be told apart from
// emptying the table and stays guarded by the program alone.
namespace treeRules {

// Creates the triggers that are missing. A file that another program holds locked, or one
// that cannot be written, is left as it is (and reported as success): they come with the next
// chance to write.
SqlResult prepare(DB& db);
QStringList createStatements();
// What the user is told when a trigger refused a row: the text the program's own check gives,
// as a failure that no caller takes for a duplicate. Other failures come back unchanged.
Status explained(const Status& failure);
// Said of every refusal that another user's change, come in meanwhile, caused.
QString changedElsewhere();

} // namespace treeRules
