#pragma once

#include "db/sqlResult.h"

#include <QString>

// The database the program uses, as the connection dialog shows and saves it: the data
// directory's file (an empty URL) or a PostgreSQL server named by the fields of a libpq URI.
namespace connectionSettings {

struct Server {
    QString host; // a name, an address, or a socket directory (starting with "/")
    QString port, database, user;
};

// The URI libpq reads for these fields; a socket directory goes into "?host=". The other
// parameters of `earlier` (sslmode and the like, which the fields do not show) are kept.
QString urlOf(const Server& server, const QString& earlier = QString());
// The fields of a URI (those left out stay empty); a malformed one gives empty fields.
Server serverOf(const QString& url);
// Set when ZARVIN_DATABASE overrides the settings file: its value.
QString environmentUrl();
// Database/url of the settings file (empty for the file), and saving it; the empty URL removes the key.
QString savedUrl();
Status saveUrl(const QString& url);
// Connects once to `url` (with `password` when one is given, else libpq's own sources) and says
// what answered, or fails with why not.
Result<QString> tryServer(const QString& url, const QString& password);
// Puts the password for these fields into ~/.pgpass (mode 0600), replacing an older line for the
// same server, database and user.
Status storePassword(const Server& server, const QString& password);

} // namespace connectionSettings
