#pragma once

#include "db/csv.h"
#include "db/sqlResult.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

class DB;
class QIODevice;

// The whole inventory as one CSV file: a header, then one record per tree row ("subnet") and
// per host row ("host"). The columns are those of header(); a tree row leaves host and note
// empty, a host row leaves name and parent_subnet empty.
namespace inventoryCsv {

QStringList header(); // record, name, subnet, parent_subnet, host, note

struct SubnetRow {
    int line = 0;
    QString name;
    QString subnet;
    QString parent; // empty for the organisation
};

struct HostRow {
    int line = 0;
    QString subnet;
    QString host;
    QString note;
};

// A file that passed every check, ready to write: parents before their branches.
struct Plan {
    QVector<SubnetRow> subnets;
    QVector<HostRow> hosts;
    int repeatedHosts = 0; // host records dropped because a later one had the same address
};

// Writes every tree row and every host row, in stored order, to `path` (replaced only once
// the whole file is written).
Status exportTo(DB& db, const QString& path);

// Reads and checks the whole file; nothing is written. A failure names the line, in Russian.
Result<Plan> read(QIODevice& device, csv::Limits limits = {});

// The rows of a stored copy, subnets as (id, subnet, parent_id, parent_subnet, name) and hosts as
// (id, subnet, host, note), each in stored order, checked by the rules of read(); the tree links
// rows by parent_id, and a parent stored after its branch is refused too. A failure names the
// first bad row by its id.
Status checkStoredRows(const QVector<QVariantList>& subnets, const QVector<QVariantList>& hosts);

// Ok when both tables are empty; else fails with the refusal to show (or the database's error).
Status refusalUnlessEmpty(DB& db);

// Writes the plan into the empty database in one transaction: all of it, or nothing.
Status write(DB& db, const Plan& plan);

} // namespace inventoryCsv
