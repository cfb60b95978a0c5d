#pragma once

#include <QString>
#include <QStringList>

// One PostgreSQL server for the whole test process, started at the first use in a temporary
// directory (trust authentication, a Unix socket there and no TCP), as user postgres when the
// tests run as root, and stopped when the process ends. Tests run on it when
// ZARVIN_TEST_ENGINE=postgresql.
namespace pgServer {

bool wanted();
// A fresh, empty database and the URI that reaches it as `user`; empty when the server could
// not be started (the reason is printed).
QString newDatabase();
QString uri(const QString& database, const QString& user = QStringLiteral("postgres"));
// Runs `sql` as the superuser on `database` (psql, one transaction); false when it fails.
bool exec(const QString& database, const QString& sql);
// Stops the server (its connections are cut off at once) and starts it again.
bool stop();
bool start();

} // namespace pgServer
