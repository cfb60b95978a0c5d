#pragma once

#include "db/sqlResult.h"
#include "net/ipv4.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

class DB;

// The search over the whole inventory: tree rows and every host list.
namespace inventorySearch {

struct Hit {
    enum Kind { Row, Host, Unrecorded, Outside } kind = Row;
    QString found; // the address or subnet found
    QString detail; // the note of a host, the name of a row, or what is known of an address
    QString where; // where it lies in the tree
    QString subnet; // the tree row to show on activation; empty when there is none
    QString host; // the host row to show in its hosts window; empty for anything else
    bool operator==(const Hit& o) const
    {
        return kind == o.kind && found == o.found && detail == o.detail && where == o.where && subnet == o.subnet
            && host == o.host;
    }
};

struct Found {
    QVector<Hit> hits; // at most the limit
    int total = 0; // every match, shown or not
    SqlResult status;
};

// Answers searches on one connection. Addresses and networks are looked up through the unique
// indexes of `host` and `subnet`; text is matched in SQL with a GLOB pattern that spells every
// character in all its cases, so only matching hosts are read. The tree rows (names for the
// labels) are read once and kept until the data changes (EngineSql::DataVersion tells).
class Searcher {
public:
    explicit Searcher(DB& db);

    // A dotted quad looks up that address, a CIDR text the rows equal to, inside or around that
    // network, anything else the rows and hosts containing it, case-insensitive in any script
    // (Unicode simple case folding, character by character). The text is taken literally;
    // surrounding blanks are ignored and blank text finds nothing.
    Found find(const QString& text, int limit = 500);

private:
    struct Row {
        QString name;
        QString subnet;
        QString parentSubnet;
        QString foldedName;
    };
    Found findAddress(net::Address address);
    SqlResult addressRows(net::Address address);
    Found findNetwork(const net::Network& query, int limit);
    Found findText(const QString& text, int limit);
    SqlResult findHosts(const QString& text, int limit, Found& found);
    SqlResult findLongText(const QString& text, int limit, Found& found);
    SqlResult refresh();
    QString rowLabel(const QString& subnet) const; // "10.1.2.0/24 «Склад»"
    Hit hostHit(const QVariantList& values) const; // host, note, subnet

    DB& db;
    qint64 version = -1; // data_version the kept rows were read at
    QVector<Row> rows;
    QHash<QString, int> rowOfSubnet;
};

// Unicode simple case folding, code point by code point: what the search compares.
QString folded(const QString& text);
// GLOB patterns of which one matches any text that contains `text` up to that folding, every
// other character literal: one, or with `splitFirst` one for each spelling of the first character.
QStringList containsPatterns(const QString& text, bool splitFirst = true);

} // namespace inventorySearch
