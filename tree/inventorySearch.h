#pragma once

#include "db/sqlResult.h"
#include "net/ipv4.h"

#include <QHash>
#include <QString>
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

// Answers searches on one connection. The tree rows and the host lists are read once and kept
// until another connection commits a change (SQLite's data_version tells), so typing is cheap.
class Searcher {
public:
    explicit Searcher(DB& db);

    // A dotted quad looks up that address, a CIDR text the rows equal to, inside or around that
    // network, anything else the rows and hosts containing it, case-insensitive in any script.
    // The text is taken literally; surrounding blanks are ignored and blank text finds nothing.
    Found find(const QString& text, int limit = 500);

private:
    struct Row {
        QString name;
        QString subnet;
        QString parentSubnet;
        QString foldedName;
        net::Network network;
        bool isNetwork = false;
    };
    struct Host {
        QString host;
        QString note;
        QString subnet;
        QString foldedHost;
        QString foldedNote;
    };

    Found findAddress(net::Address address);
    Found findNetwork(const net::Network& query, int limit);
    Found findText(const QString& text, int limit);
    SqlResult refresh(bool withHosts);
    QString rowLabel(const QString& subnet) const; // "10.1.2.0/24 «Склад»"
    Hit rowHit(const Row& row, const QString& where) const;

    DB& db;
    qint64 version = -1; // data_version the kept rows were read at
    bool hostsRead = false;
    QVector<Row> rows;
    QHash<QString, int> rowOfSubnet;
    QVector<Host> hosts;
};

} // namespace inventorySearch
