#include "db/DB.h"
#include "db/changeLog.h"
#include "db/engine.h"
#include "db/historyBlocks.h"
#include "db/historySchema.h"
#include "db/treeRules.h"

#include <QLocale>
#include <QSocketNotifier>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <qnumeric.h>

#include <libpq-fe.h>

#include <algorithm>

namespace {

QString decoded(const QString& part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

// A value of a libpq keyword=value string, quoted as libpq reads it.
QString quoted(const QString& value)
{
    QString v = value;
    v.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

struct Uri {
    QString user, host, port, dbname;
    QStringList options; // keyword='value' of every other parameter
};

// "[user[:password]@][host][:port]": the password is dropped.
void readAuthority(const QString& authority, Uri& uri)
{
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0)
        uri.user = decoded(authority.left(at).section(QLatin1Char(':'), 0, 0));
    const QString hostPort = authority.mid(at + 1);
    const int colon = hostPort.lastIndexOf(QLatin1Char(':'));
    const bool hasPort = colon >= 0 && !hostPort.mid(colon).contains(QLatin1Char(']'));
    uri.host = decoded(hasPort ? hostPort.left(colon) : hostPort).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    if (hasPort)
        uri.port = hostPort.mid(colon + 1);
}

void readParameter(const QString& pair, Uri& uri)
{
    const QString key = decoded(pair.section(QLatin1Char('='), 0, 0));
    const QString value = decoded(pair.section(QLatin1Char('='), 1));
    if (key == QLatin1String("host"))
        uri.host = value;
    else if (key == QLatin1String("port"))
        uri.port = value;
    else if (key == QLatin1String("dbname"))
        uri.dbname = value;
    else if (key == QLatin1String("user"))
        uri.user = value;
    else if (!key.isEmpty() && key != QLatin1String("password")) // passwords come from libpq's own sources
        uri.options << key + QLatin1Char('=') + quoted(value);
}

Result<Uri> parsed(const QString& url)
{
    QString rest = url.trimmed();
    for (const QString& scheme : { QStringLiteral("postgresql://"), QStringLiteral("postgres://") })
        if (rest.startsWith(scheme))
            rest = rest.mid(scheme.size());
    if (rest.size() == url.trimmed().size())
        return Status::failure(QStringLiteral("Адрес базы данных «") + url
            + QStringLiteral("» не начинается с postgresql://. Укажите его в виде "
                             "postgresql://пользователь@сервер:порт/база"));
    Uri uri;
    const QString query = rest.section(QLatin1Char('?'), 1);
    rest = rest.section(QLatin1Char('?'), 0, 0);
    const int slash = rest.indexOf(QLatin1Char('/'));
    if (slash >= 0)
        uri.dbname = decoded(rest.mid(slash + 1));
    readAuthority(slash >= 0 ? rest.left(slash) : rest, uri);
    for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts))
        readParameter(pair, uri);
    bool portOk = uri.port.isEmpty();
    if (!portOk)
        uri.port.toUShort(&portOk);
    if (!portOk)
        return Status::failure(
            QStringLiteral("В адресе базы данных «") + url + QStringLiteral("» порт указан неверно: ") + uri.port);
    return uri;
}

QString unreachable(const QString& why)
{
    return QStringLiteral("Сервер базы данных недоступен: ") + why.trimmed();
}

PGconn* pgConnection(const QSqlDatabase& conn)
{
    const QVariant handle = conn.driver() ? conn.driver()->handle() : QVariant();
    return qstrcmp(handle.typeName(), "PGconn*") == 0 ? *static_cast<PGconn* const*>(handle.constData()) : nullptr;
}

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') || c.unicode() >= 0x80;
}

// Past the quoted text that opens at `at` with `quote`; a doubled quote stands for itself, and in
// an E'...' string a backslash escapes the next character. The end of the statement when unclosed.
int pastQuoted(const QString& sql, int at, QChar quote, bool backslashes)
{
    for (int i = at + 1; i < sql.size(); ++i) {
        const bool escaped = backslashes && sql.at(i) == QLatin1Char('\\');
        const bool doubled = sql.at(i) == quote && i + 1 < sql.size() && sql.at(i + 1) == quote;
        if (escaped || doubled)
            ++i;
        else if (sql.at(i) == quote)
            return i + 1;
    }
    return sql.size();
}

// Past a $tag$...$tag$ body opening at `at`; `at` itself when no tag opens there ($1 is none).
int pastDollarQuoted(const QString& sql, int at)
{
    int i = at + 1;
    if (i < sql.size() && sql.at(i).isDigit())
        return at;
    while (i < sql.size() && sql.at(i) != QLatin1Char('$') && isWordCharacter(sql.at(i)))
        ++i;
    if (i == sql.size() || sql.at(i) != QLatin1Char('$'))
        return at;
    const QString tag = sql.mid(at, i + 1 - at);
    const int end = sql.indexOf(tag, i + 1);
    return end < 0 ? sql.size() : end + tag.size();
}

// Past a /* ... */ comment opening at `at`; they nest.
int pastBlockComment(const QString& sql, int at)
{
    int depth = 0;
    for (int i = at; i + 1 < sql.size(); ++i) {
        const QStringRef two = sql.midRef(i, 2);
        if (two == QLatin1String("/*"))
            ++depth, ++i;
        else if (two == QLatin1String("*/") && --depth == 0)
            return i + 2;
        else if (two == QLatin1String("*/"))
            ++i;
    }
    return sql.size();
}

// Where the statement's "?" values stand: never inside a string, a quoted name, a $$ body or a
// comment, where a "?" is part of the text.
QVector<int> placeholders(const QString& sql)
{
    QVector<int> at;
    int i = 0;
    while (i < sql.size()) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < sql.size() ? sql.at(i + 1) : QChar();
        if (c == QLatin1Char('?')) {
            at << i++;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            i = pastQuoted(sql, i, c, false);
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            const int end = sql.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? sql.size() : end + 1;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            i = pastBlockComment(sql, i);
        } else if (c == QLatin1Char('$')) {
            i = std::max(pastDollarQuoted(sql, i), i + 1);
        } else if (isWordCharacter(c)) {
            const int start = i;
            while (i < sql.size() && isWordCharacter(sql.at(i)))
                ++i;
            if (i - start == 1 && (c == QLatin1Char('E') || c == QLatin1Char('e')) && i < sql.size()
                && sql.at(i) == QLatin1Char('\''))
                i = pastQuoted(sql, i, QLatin1Char('\''), true);
        } else {
            ++i;
        }
    }
    return at;
}

// A value as a literal without a type, so that the server reads it as the context wants, as it
// reads a value bound to a prepared statement; empty for a kind of value written no such way.
Result<QString> literal(PGconn* pg, const QVariant& value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    const auto quotedText = [](const QString& text) { return QLatin1Char('\'') + text + QLatin1Char('\''); };
    switch (value.userType()) {
    case QMetaType::QString: {
        // libpq stops at a zero character, and no text of the server may hold one.
        if (value.toString().contains(QChar(0)))
            return Status::failure(QStringLiteral("Текст содержит нулевой символ: сервер базы данных не может его "
                                                  "сохранить"));
        const QByteArray utf8 = value.toString().toUtf8();
        char* escaped = PQescapeLiteral(pg, utf8.constData(), size_t(utf8.size()));
        if (!escaped)
            return Status::failure(QString::fromUtf8(PQerrorMessage(pg)).trimmed());
        const QString out = QString::fromUtf8(escaped);
        PQfreemem(escaped);
        return out;
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        size_t length = 0;
        unsigned char* escaped = PQescapeByteaConn(
            pg, reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size()), &length);
        if (!escaped)
            return Status::failure(QString::fromUtf8(PQerrorMessage(pg)).trimmed());
        const QString out = quotedText(QString::fromLatin1(reinterpret_cast<const char*>(escaped)));
        PQfreemem(escaped);
        return out;
    }
    case QMetaType::Bool:
        return quotedText(value.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return quotedText(value.toString());
    case QMetaType::Double: {
        const double d = value.toDouble();
        if (qIsNaN(d))
            return quotedText(QStringLiteral("NaN"));
        if (qIsInf(d))
            return quotedText(d > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity"));
        return quotedText(QString::number(d, 'g', QLocale::FloatingPointShortest));
    }
    default:
        return QString();
    }
}

// The networks of the tree, indexed: a branch is checked against the few rows whose networks
// meet its own, not against every sibling (an import of 10,000 rows under one parent took about
// 15 s, each row reading all the rows before it). A text that is no network has none, and meets
// nothing.
const QStringList networkIndex
    = { QStringLiteral("CREATE OR REPLACE FUNCTION zarvin_network(t text) RETURNS cidr LANGUAGE plpgsql IMMUTABLE AS "
                       "$$ BEGIN RETURN CAST(t AS cidr); EXCEPTION WHEN others THEN RETURN NULL; END $$"),
          QStringLiteral("CREATE INDEX IF NOT EXISTS subnets_by_network ON subnets USING gist (zarvin_network(subnet) "
                         "inet_ops)") };

// The program's writers take the lock first, so a branch's checks and its writes happen in one
// order for every client; other clients are held to the same by the rules themselves. A subnet
// stored already is left to the UNIQUE constraint, which the program takes for a duplicate.
// The siblings are found by the network index alone: the function's plan is made once, often on
// a table still small, and a plan that reads every sibling (by the parent's index, or by no
// index) made one statement of 10,000 branches take a minute.
QString nestingRule()
{
    return QStringLiteral(
        "CREATE OR REPLACE FUNCTION zarvin_branch_nested() RETURNS trigger LANGUAGE plpgsql SET enable_seqscan = "
        "off AS $$ BEGIN "
        "IF NEW.parent_id IS NOT NULL AND NEW.parent_subnet IS NOT NULL AND NOT EXISTS (SELECT 1 FROM subnets "
        "WHERE subnet = NEW.subnet AND id <> NEW.id) THEN PERFORM pg_advisory_xact_lock(%1); "
        "IF NOT (CAST(NEW.subnet AS cidr) << CAST(NEW.parent_subnet AS cidr)) THEN RAISE EXCEPTION '%2'; END IF; "
        "IF EXISTS (SELECT 1 FROM subnets WHERE zarvin_network(subnet) && CAST(NEW.subnet AS cidr) AND "
        "coalesce(parent_subnet, '') = NEW.parent_subnet AND id <> NEW.id) THEN RAISE EXCEPTION '%3'; END IF; "
        "END IF; "
        "RETURN NEW; END $$")
        .arg(writersLockKey)
        .arg(treeRules::outsideParent(), treeRules::overlapping());
}

QString trigger(const QString& name, const QString& event)
{
    return QStringLiteral("CREATE OR REPLACE TRIGGER %1 BEFORE %2 FOR EACH ROW EXECUTE FUNCTION %1()").arg(name, event);
}

// A save inserts its whole list of hosts in one statement, and checking each row's tree row cost
// more than the insert: that rule is checked once a statement, over the rows it inserted. Its
// trigger has a name of its own, so that a server with the row trigger of earlier versions gets
// it anew.
bool checkedPerStatement(const treeRules::Rule& r)
{
    return r.event == QLatin1String("INSERT ON hosts");
}

QString triggerName(const treeRules::Rule& r)
{
    return checkedPerStatement(r) ? r.name + QStringLiteral("_together") : r.name;
}

QStringList perStatementRule(const treeRules::Rule& r)
{
    const QString name = triggerName(r);
    QString when = r.when;
    when.replace(QStringLiteral("NEW."), QStringLiteral("n."));
    return { QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF EXISTS "
                            "(SELECT 1 FROM zarvin_inserted AS n WHERE %2) THEN RAISE EXCEPTION '%3'; END IF; "
                            "RETURN NULL; END $$")
                 .arg(name, when, r.raised),
        QStringLiteral("CREATE OR REPLACE TRIGGER %1 AFTER %2 REFERENCING NEW TABLE AS zarvin_inserted FOR EACH "
                       "STATEMENT EXECUTE FUNCTION %1()")
            .arg(name, r.event),
        QStringLiteral("DROP TRIGGER IF EXISTS %1 ON hosts").arg(r.name),
        QStringLiteral("DROP FUNCTION IF EXISTS %1()").arg(r.name) };
}

// Every statement that changes the data bumps one counter (EngineSql::DataVersion) and tells the
// listeners, once per transaction: a save of many rows costs one update and one notification. The
// function runs as its owner, so a role granted its tables before the counter came still writes;
// the counter is no secret, and any role may read it.
const QString changeChannelName = QStringLiteral("zarvin_changes");
// The history's tables of one row an address are those of a server not yet folded into blocks.
const QStringList watchedTables
    = { QStringLiteral("subnets"), QStringLiteral("hosts"), QStringLiteral("scans"), QStringLiteral("scan_answers"),
          QStringLiteral("sightings"), QStringLiteral("scan_answer_blocks"), QStringLiteral("sighting_blocks") };

QStringList changeSignalStatements(const QString& schema, const QStringList& tables)
{
    QStringList out { QStringLiteral("CREATE TABLE IF NOT EXISTS change_counter (id int PRIMARY KEY CHECK (id = 1), "
                                     "version bigint NOT NULL)"),
        QStringLiteral("INSERT INTO change_counter (id, version) VALUES (1, 0) ON CONFLICT DO NOTHING"),
        QStringLiteral("GRANT SELECT ON change_counter TO PUBLIC"),
        QStringLiteral("CREATE OR REPLACE FUNCTION zarvin_data_changed() RETURNS trigger LANGUAGE plpgsql SECURITY "
                       "DEFINER SET search_path = pg_catalog, pg_temp AS $$ BEGIN "
                       "IF coalesce(current_setting('zarvin.counted', true), '') <> 'yes' THEN "
                       "UPDATE %1.change_counter SET version = version + 1; "
                       "PERFORM set_config('zarvin.counted', 'yes', true); PERFORM pg_notify('%2', ''); END IF; "
                       "RETURN NULL; END $$")
            .arg(schema, changeChannelName) };
    for (const QString& table : watchedTables)
        if (tables.contains(table))
            out << QStringLiteral("CREATE OR REPLACE TRIGGER zarvin_data_changed AFTER INSERT OR UPDATE OR DELETE OR "
                                  "TRUNCATE ON %1 FOR EACH STATEMENT EXECUTE FUNCTION zarvin_data_changed()")
                       .arg(table);
    return out;
}

bool hasChangeSignal(DB& db)
{
    const SqlResult r = db.run(QStringLiteral("SELECT (SELECT count(*) FROM pg_trigger WHERE NOT tgisinternal AND "
                                              "tgname = 'zarvin_data_changed') = (SELECT count(*) FROM pg_tables "
                                              "WHERE schemaname = current_schema() AND tablename IN ('%1')) AND "
                                              "to_regclass('change_counter') IS NOT NULL")
                                   .arg(watchedTables.join(QStringLiteral("', '"))));
    return r.ok() && r.rows.value(0).value(0).toBool();
}

// Optional, like the history: a role that may not create it works on, its changes seen at the
// next change of a role that may.
SqlResult prepareChangeSignal(DB& db)
{
    if (hasChangeSignal(db))
        return {};
    const DB::NoWaiting quick(db);
    const Status made = db.writeTransaction([&] {
        // The history's tables too may be missing still (created by a later construction).
        SqlResult r = db.run(QStringLiteral("SELECT quote_ident(current_schema()), string_agg(tablename, ',') FROM "
                                            "pg_tables WHERE schemaname = current_schema()"));
        const QString schema = r.rows.value(0).value(0).toString();
        const QStringList tables = r.rows.value(0).value(1).toString().split(QLatin1Char(','));
        const QStringList statements = changeSignalStatements(schema, tables);
        for (int i = 0; i < statements.size() && r.ok(); ++i)
            r = db.run(statements.at(i));
        return Status(r);
    });
    return sqlite::cannotWriteNow(made.code) ? SqlResult() : SqlResult(made);
}

QString indexed(const QString& index)
{
    return index == QLatin1String("hosts_by_subnet") ? QStringLiteral("hosts (subnet)")
                                                     : QStringLiteral("subnets (parent_subnet)");
}

class PostgresEngine : public Engine {
public:
    explicit PostgresEngine(const QString& url_)
        : url(url_)
    { }

    QString driverName() const override { return QStringLiteral("QPSQL"); }
    bool isServer() const override { return true; }
    Status open(QSqlDatabase& conn, int waitMs) override;
    Status prepareSchema(DB& db, bool& readOnly) override;
    Status checkIntegrity(DB&) override { return {}; } // the server keeps its own files sound
    QString keptConnectionKey() const override { return url; }
    QString location(const QSqlDatabase& conn) const override
    {
        // libpq's defaults, when the URI leaves them out: the user's name, the local socket.
        const QString database = conn.databaseName().isEmpty() ? conn.userName() : conn.databaseName();
        return database + QStringLiteral(" на ")
            + (conn.hostName().isEmpty() ? QStringLiteral("localhost") : conn.hostName());
    }

    QStringList beginWrite() const override
    {
        // The mark tells the log's triggers that the program enters this transaction's changes itself.
        return { QStringLiteral("BEGIN"),
            QStringLiteral("SELECT pg_advisory_xact_lock(%1), set_config('zarvin.logged', '1', true)")
                .arg(writersLockKey) };
    }
    QString beginRead() const override { return QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"); }
    // Zero would mean no limit at all on a server.
    QString waitFor(int ms) const override { return QStringLiteral("SET lock_timeout = %1").arg(qMax(ms, 1)); }
    bool preparesEverything() const override { return false; }
    bool needsSavepoints() const override { return true; }
    bool writesRowsTogether() const override { return true; }
    bool reportsInsertedId() const override { return false; }
    // Each pattern is another pass of the regular expression over each text.
    bool matchesSetsQuickly() const override { return true; }

    Status failure(const QSqlError& error) const override;
    QVariant bound(const QVariant& value) const override { return value; }
    Result<QString> withValues(const QSqlDatabase& conn, const QString& sql, const QVariantList& values) const override;
    QString text(EngineSql which) const override;
    QString pattern(const QString& glob) const override;

    bool hasTables(DB& db, const QStringList& tables) const override
    {
        const SqlResult r = db.run(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = "
                                                  "current_schema() AND tablename IN ('%1')")
                                       .arg(tables.join(QStringLiteral("', '"))));
        return r.ok() && r.rows.value(0).value(0).toInt() == tables.size();
    }
    QStringList historyTables() const override;
    HistoryLayout historyLayout(DB& db) const override;
    HistoryLayout historyLayoutMade() const override { return HistoryLayout::Blocks; }
    QStringList ruleStatements() const override;
    QStringList changeLogStatements() const override;
    bool hasRules(DB& db) const override
    {
        QStringList names { QStringLiteral("zarvin_branch_nested") };
        for (const treeRules::Rule& r : treeRules::rules())
            names << triggerName(r);
        const SqlResult r = db.run(QStringLiteral("SELECT count(*) FROM pg_trigger WHERE NOT tgisinternal AND "
                                                  "tgname IN ('%1') AND tgrelid IN "
                                                  "(to_regclass('subnets'), to_regclass('hosts')) AND "
                                                  "to_regclass('subnets_by_network') IS NOT NULL")
                                       .arg(names.join(QStringLiteral("', '"))));
        return r.ok() && r.rows.value(0).value(0).toInt() == names.size();
    }
    bool notifies() const override { return true; }
    Status listen(QSqlDatabase& conn, QObject* owner, const std::function<void()>& changed,
        const std::function<void()>& lost) override;

private:
    Status createTables(DB& db);
    static void prepareTextIndex(DB& db);

    QString url;
};

Status PostgresEngine::open(QSqlDatabase& conn, int waitMs)
{
    if (const Status set = configurePostgres(conn, url); !set.ok())
        return set;
    if (!conn.open())
        return Status::failure(unreachable(conn.lastError().text()), sqlite::Unreachable);
    QSqlQuery q(conn);
    // Notices (a table that exists already) are no news to anyone.
    if (q.exec(QStringLiteral("SET client_min_messages = warning")) && q.exec(waitFor(waitMs)))
        return {};
    return failure(q.lastError());
}

Status PostgresEngine::createTables(DB& db)
{
    for (const QString& sql :
        { QStringLiteral("CREATE TABLE IF NOT EXISTS subnets (id integer generated by default as identity primary "
                         "key, subnet text COLLATE \"C\" UNIQUE, parent_id int, parent_subnet text COLLATE \"C\", "
                         "name text)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS hosts (id integer generated by default as identity primary "
                           "key, subnet text COLLATE \"C\", host text COLLATE \"C\" UNIQUE, note text)") })
        if (const SqlResult r = db.run(sql); !r.ok())
            return r;
    return {};
}

Status PostgresEngine::prepareSchema(DB& db, bool& readOnly)
{
    // Each step only when missing: a role that may not create anything still opens the tables.
    if (!hasTables(db, { QStringLiteral("subnets"), QStringLiteral("hosts") }))
        if (const Status made = db.writeTransaction([&] { return createTables(db); }); !made.ok())
            return made;
    // The catalog itself: information_schema took longer than the rest of the preparation.
    const SqlResult note = db.run(QStringLiteral("SELECT count(*) FROM pg_attribute WHERE attrelid = "
                                                 "to_regclass('hosts') AND attname = 'note' AND NOT attisdropped"));
    if (!note.ok())
        return note;
    if (note.rows.value(0).value(0).toInt() == 0)
        if (const SqlResult alter = db.run(QStringLiteral("ALTER TABLE hosts ADD COLUMN note text")); !alter.ok())
            return alter;
    // Counting a subnet's hosts, and a branch's siblings in the nesting rule, read these; a role
    // that may not create them works without.
    for (const QString& name : { QStringLiteral("hosts_by_subnet"), QStringLiteral("subnets_by_parent") }) {
        const SqlResult there = db.run(QStringLiteral("SELECT to_regclass('%1') IS NOT NULL").arg(name));
        if (there.ok() && !there.rows.value(0).value(0).toBool())
            (void)db.run(QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2").arg(name, indexed(name)));
    }
    if (const SqlResult history = historySchema::prepare(db); !history.ok())
        return history;
    if (const SqlResult rules = treeRules::prepare(db); !rules.ok())
        return rules;
    if (const SqlResult signal = prepareChangeSignal(db); !signal.ok())
        return signal;
    if (const SqlResult log = changeLog::prepare(db); !log.ok())
        return log;
    prepareTextIndex(db);
    const SqlResult may = db.run(QStringLiteral("SELECT has_table_privilege('subnets', 'INSERT')"));
    if (!may.ok())
        return may;
    readOnly = !may.rows.value(0).value(0).toBool();
    return {};
}

// The log's filter by text reads a trigram index where the server has pg_trgm and this role may
// add it (the database's owner may); without one, it reads the whole log.
void PostgresEngine::prepareTextIndex(DB& db)
{
    const SqlResult there = db.run(
        QStringLiteral("SELECT to_regclass('change_log') IS NULL OR to_regclass('change_log_by_text') IS NOT NULL"));
    if (!there.ok() || there.rows.value(0).value(0).toBool())
        return;
    const DB::NoWaiting quick(db);
    (void)db.runTogether({ QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"),
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS change_log_by_text ON change_log USING gin (search gin_trgm_ops)") });
}

// The driver would PREPARE the statement, EXECUTE it with the values written as literals by the
// client anyway, and DEALLOCATE it before the next: three round trips where one does. A statement
// whose "?" do not match its values is left to the server to refuse.
Result<QString> PostgresEngine::withValues(
    const QSqlDatabase& conn, const QString& sql, const QVariantList& values) const
{
    PGconn* pg = pgConnection(conn);
    const QVector<int> at = placeholders(sql);
    if (!pg || at.size() != values.size())
        return QString();
    QString out;
    out.reserve(sql.size() + values.size() * 8);
    int from = 0;
    for (int i = 0; i < at.size(); ++i) {
        const Result<QString> value = literal(pg, values.at(i));
        if (!value.ok() || value.value.isEmpty())
            return value;
        out += sql.midRef(from, at.at(i) - from);
        out += value.value;
        from = at.at(i) + 1;
    }
    return out + sql.midRef(from);
}

// Read straight from libpq: the notifications come whenever the server sends them, and a
// connection that the server closed says so at once, with no statement run to find out.
Status PostgresEngine::listen(
    QSqlDatabase& conn, QObject* owner, const std::function<void()>& changed, const std::function<void()>& lost)
{
    QSqlQuery q(conn);
    if (!q.exec(QStringLiteral("LISTEN ") + changeChannelName))
        return failure(q.lastError());
    PGconn* pg = pgConnection(conn);
    if (!pg || PQsocket(pg) < 0)
        return Status::failure(unreachable(QStringLiteral("нет соединения")), sqlite::Unreachable);
    auto* notifier = new QSocketNotifier(PQsocket(pg), QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [pg, notifier, changed, lost] {
        if (!PQconsumeInput(pg)) {
            notifier->setEnabled(false);
            lost();
            return;
        }
        bool any = false;
        while (PGnotify* n = PQnotifies(pg)) {
            PQfreemem(n);
            any = true;
        }
        if (any)
            changed();
    });
    return {};
}

// The server's own sentence, without its severity ("ERROR:  ", in the server's language) and
// the lines of context meant for whoever debugs SQL.
QString primaryMessage(const QSqlError& error)
{
    const QString first = error.databaseText().section(QLatin1Char('\n'), 0, 0).trimmed();
    const int severity = first.indexOf(QLatin1String(":  "));
    const QString text = severity >= 0 ? first.mid(severity + 3) : first;
    return text.isEmpty() ? error.text() : text;
}

Status PostgresEngine::failure(const QSqlError& error) const
{
    const QString state = error.nativeErrorCode();
    const QString text = primaryMessage(error);
    // Every failure the server reports has its state; none means the connection itself failed.
    if (state.isEmpty() || state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P")))
        return Status::failure(unreachable(text), sqlite::Unreachable);
    if (state.startsWith(QLatin1String("23")) || state == QLatin1String("P0001"))
        return Status::failure(text, sqlite::Constraint);
    if (state == QLatin1String("55P03"))
        return Status::failure(text, sqlite::Busy);
    if (state == QLatin1String("40001") || state == QLatin1String("40P01"))
        return Status::failure(text, sqlite::Retry);
    if (state == QLatin1String("25006") || state == QLatin1String("42501"))
        return Status::failure(text, sqlite::ReadOnly);
    if (state == QLatin1String("53100"))
        return Status::failure(text, sqlite::Full);
    // Said as SQLite says it: a history that was never created reads as empty (historySchema).
    if (state == QLatin1String("42P01"))
        return Status::failure(QStringLiteral("no such table: ") + text);
    return Status::failure(text);
}

QString PostgresEngine::text(EngineSql which) const
{
    // A JSON array of numbers read as an array of the server's: a tenth of the time for a /16.
    // Only its brackets are replaced: translating every character of a /16's list cost a third
    // of reading it.
    const QString numbers = QStringLiteral("(SELECT value FROM unnest(CAST('{' || btrim(?, '[]') || '}' AS "
                                           "bigint[])) AS e(value))");
    switch (which) {
    // lastval() would need a grant on each identity's sequence, which an editor need not have.
    case EngineSql::ReturningId:
        return QStringLiteral(" RETURNING id");
    case EngineSql::LastInsertedId:
        return QStringLiteral("SELECT lastval()");
    case EngineSql::NumberTable:
        return numbers + QStringLiteral(" AS j");
    case EngineSql::PairTable:
        return QStringLiteral("(SELECT e.value ->> 0 AS first, e.value ->> 1 AS second, e.n FROM "
                              "json_array_elements(CAST(? AS json)) WITH ORDINALITY AS e(value, n)) AS j");
    case EngineSql::AddScanAnswers:
        // Rows in key order, none that conflicts: no check before each row, and each index entry
        // goes to the end of the index.
        return QStringLiteral("INSERT INTO scan_answers (scan, address) SELECT CAST(? AS integer), value FROM ")
            + numbers + QStringLiteral(" AS j");
    case EngineSql::AddSightings:
        // The file's upsert checks each row before inserting it, which costs a server more than
        // the insert itself: the stored sightings are updated and the others inserted, in one
        // statement. Writers of the program hold the writers' lock, so none adds a sighting between.
        return QStringLiteral(
            "WITH v (first_seen, first_method, first_port, last_seen, last_method, last_port, scan) AS (VALUES "
            "(CAST(? AS text), CAST(? AS text), CAST(? AS integer), CAST(? AS text), CAST(? AS text), "
            "CAST(? AS integer), CAST(? AS integer))), "
            "a AS MATERIALIZED (SELECT address FROM scan_answers WHERE scan = (SELECT scan FROM v)), "
            "moved AS (UPDATE sightings s SET last_seen = v.last_seen, last_method = v.last_method, last_port = "
            "v.last_port FROM v, a WHERE s.address = a.address AND v.last_seen >= s.last_seen) "
            "INSERT INTO sightings (address, first_seen, first_method, first_port, last_seen, last_method, "
            "last_port) SELECT a.address, v.first_seen, v.first_method, v.first_port, v.last_seen, v.last_method, "
            "v.last_port FROM v, a WHERE NOT EXISTS (SELECT 1 FROM sightings s WHERE s.address = a.address)");
    case EngineSql::AsBytes:
        // Text: the driver reads a bytea escaped, each byte past ASCII as four characters, and
        // decodes it byte by byte.
        return QStringLiteral("SELECT CAST((%1) AS text)");
    case EngineSql::TextBytes:
        return QStringLiteral("convert_to(%1, 'UTF8')");
    case EngineSql::HostNotePairs:
        return QStringLiteral("array_to_json(array_agg(ARRAY[h.host, h.note]))");
    case EngineSql::CommaList:
        return QStringLiteral("string_agg(CAST(address AS text), ',')");
    case EngineSql::StoredCount:
        // A text that is not a number must not reach the cast: the server refuses it where
        // SQLite reads 0. Same values, same order as the file's statement.
        return QStringLiteral("SELECT COUNT(*) FROM hosts WHERE host >= ? AND host < ? "
                              "AND substr(host, ?) ~ '^(0|[1-9][0-9]{0,2})$' "
                              "AND CASE WHEN substr(host, ?) ~ '^(0|[1-9][0-9]{0,2})$' "
                              "THEN CAST(substr(host, ?) AS integer) END BETWEEN ? AND ?");
    case EngineSql::DataVersion:
        return QStringLiteral("SELECT version FROM change_counter");
    case EngineSql::TextMatch:
        return QStringLiteral("%1 ~ ?");
    case EngineSql::HoldsText:
        // LIKE, which the trigram index of the log's text serves (strpos would read every row).
        return QStringLiteral("%1 LIKE ('%' || replace(replace(replace(?, '!', '!!'), '%', '!%'), '_', '!_') || '%') "
                              "ESCAPE '!'");
    case EngineSql::AddedOrder:
        // An updated row (a note typed, a host moved in) takes a new place in the table, often
        // after the others.
        return QStringLiteral(" ORDER BY id");
    case EngineSql::AddChanges:
        // jsonb: an element is found by its index, where json would read the text again.
        return QStringLiteral(
            "INSERT INTO change_log (changed_at, who, operation, what, subnet, name, host, old_text, "
            "new_text, first_address, last_address, search) SELECT CAST(? AS text), CAST(? AS text), "
            "CAST(? AS bigint), a ->> (9 * i), a ->> (9 * i + 1), a ->> (9 * i + 2), a ->> (9 * i + 3), "
            "a ->> (9 * i + 4), a ->> (9 * i + 5), CAST(a ->> (9 * i + 6) AS bigint), "
            "CAST(a ->> (9 * i + 7) AS bigint), a ->> (9 * i + 8) FROM (SELECT CAST(? AS jsonb) AS a) "
            "AS j, generate_series(0, jsonb_array_length(a) / 9 - 1) AS i ORDER BY i");
    }
    return {};
}

// The same characters, as a regular expression: "*" matches anything (a search is unanchored),
// every other character stands for itself.
QString PostgresEngine::pattern(const QString& glob) const
{
    QString out;
    bool inSet = false;
    bool setEmpty = false; // a "]" right after "[" is a member of the set
    for (const uint c : glob.toUcs4()) {
        const QString ch = QString::fromUcs4(&c, 1);
        if (!inSet && (c == '*' || c == '[')) {
            inSet = c == '[';
            setEmpty = inSet;
            out += inSet ? ch : QString();
        } else if (inSet && c == ']' && !setEmpty) {
            inSet = false;
            out += ch;
        } else {
            setEmpty = false;
            out += (ch.at(0).isLetterOrNumber() ? QString() : QStringLiteral("\\")) + ch;
        }
    }
    return out;
}

QStringList PostgresEngine::historyTables() const
{
    return QStringList { QStringLiteral("CREATE TABLE IF NOT EXISTS scans (id integer generated by default as "
                                        "identity primary key, subnet text, method text, port int, started text, "
                                        "ended text, probed bigint, answered int)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS scans_by_subnet ON scans (subnet, id)") }
    + historyBlocks::createStatements();
}

HistoryLayout PostgresEngine::historyLayout(DB& db) const
{
    const SqlResult r = db.run(historyBlocks::layoutQuery());
    if (r.ok() && r.rows.value(0).value(0).toBool())
        return HistoryLayout::Blocks;
    return r.ok() && r.rows.value(0).value(1).toBool() ? HistoryLayout::Rows : HistoryLayout::None;
}

// The file's triggers as functions of the server; SQLite's "IS NOT" of two values is spelt
// "IS DISTINCT FROM" there.
QStringList PostgresEngine::ruleStatements() const
{
    QStringList out;
    for (const treeRules::Rule& r : treeRules::rules()) {
        if (checkedPerStatement(r)) {
            out << perStatementRule(r);
            continue;
        }
        QString when = r.when;
        when.replace(QStringLiteral(" IS NOT OLD."), QStringLiteral(" IS DISTINCT FROM OLD."));
        out << QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF %2 "
                              "THEN RAISE EXCEPTION '%3'; END IF; RETURN NEW; END $$")
                   .arg(r.name, when, r.raised)
            << trigger(r.name, r.event);
    }
    return out << networkIndex << nestingRule()
               << trigger(QStringLiteral("zarvin_branch_nested"),
                      QStringLiteral("INSERT OR UPDATE OF subnet, parent_id, parent_subnet ON subnets"));
}

// The parts that both of the triggers below share: the operation of the transaction, numbered
// once; and the range of a subnet, which one typed by hand may not have.
const QString operationOfTransaction
    = QStringLiteral("v_op := CAST(nullif(current_setting('zarvin.operation', true), '') AS bigint); "
                     "IF v_op IS NULL THEN PERFORM pg_advisory_xact_lock(%1); "
                     "SELECT coalesce(max(operation), 0) + 1 INTO v_op FROM change_log; "
                     "PERFORM set_config('zarvin.operation', CAST(v_op AS text), true); END IF; ");
const QString rangeOfSubnet = QStringLiteral("v_first := NULL; v_last := NULL; "
                                             "IF v_subnet ~ '^[0-9]{1,3}(\\.[0-9]{1,3}){3}/[0-9]{1,2}$' THEN BEGIN "
                                             "v_first := network(CAST(v_subnet AS cidr)) - inet '0.0.0.0'; "
                                             "v_last := broadcast(CAST(v_subnet AS cidr)) - inet '0.0.0.0'; "
                                             "EXCEPTION WHEN others THEN NULL; END; END IF; ");
const QString enterEntry = QStringLiteral(
    "INSERT INTO change_log (changed_at, who, what, operation, subnet, name, host, old_text, new_text, "
    "first_address, last_address, search) VALUES (to_char(clock_timestamp() AT TIME ZONE 'UTC', "
    "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), session_user, v_what, v_op, coalesce(v_subnet, ''), "
    "coalesce(v_name, ''), coalesce(v_host, ''), coalesce(v_old, ''), coalesce(v_new, ''), v_first, v_last, "
    "lower(concat_ws(' ', session_user, v_subnet, v_name, v_host, v_old, v_new))); ");
const QString entryVariables
    = QStringLiteral("v_op bigint; v_what text; v_subnet text; v_name text; v_host text := ''; v_old text; v_new text; "
                     "v_first bigint; v_last bigint; ");

// Another client's change (no mark of the program in its transaction) is entered row by row,
// with the database role as who; the rows of one transaction share an operation, numbered under
// the program's writers' lock as the program numbers its own.
QString changeEntry()
{
    return QStringLiteral(
        "CREATE OR REPLACE FUNCTION change_log_entry() RETURNS trigger LANGUAGE plpgsql AS $$ DECLARE %1 BEGIN %2"
        "IF TG_TABLE_NAME = 'subnets' THEN "
        "IF TG_OP = 'DELETE' THEN v_what := 'deleted'; v_subnet := OLD.subnet; v_name := OLD.name; "
        "v_old := OLD.name; "
        "ELSIF TG_OP = 'INSERT' THEN v_what := 'added'; v_subnet := NEW.subnet; v_name := NEW.name; "
        "v_new := NEW.name; "
        "ELSE v_what := 'renamed'; v_subnet := NEW.subnet; v_name := NEW.name; v_old := OLD.name; "
        "v_new := NEW.name; END IF; "
        "ELSE "
        "IF TG_OP = 'DELETE' THEN v_what := 'host_deleted'; v_subnet := OLD.subnet; v_host := OLD.host; "
        "v_old := OLD.note; "
        "ELSIF TG_OP = 'INSERT' THEN v_what := 'host_added'; v_subnet := NEW.subnet; v_host := NEW.host; "
        "v_new := NEW.note; "
        "ELSE v_what := 'note_changed'; v_subnet := NEW.subnet; v_host := NEW.host; v_old := OLD.note; "
        "v_new := NEW.note; END IF; "
        "SELECT s.name INTO v_name FROM subnets s WHERE s.subnet = v_subnet LIMIT 1; END IF; %3%4"
        "RETURN NULL; END $$")
        .arg(entryVariables, operationOfTransaction.arg(writersLockKey), rangeOfSubnet, enterEntry);
}

// A TRUNCATE fires no row's trigger: each row it is about to take is entered as deleted.
QString truncationEntries()
{
    return QStringLiteral(
        "CREATE OR REPLACE FUNCTION change_log_truncation() RETURNS trigger LANGUAGE plpgsql AS $$ DECLARE %1 "
        "r record; BEGIN %2"
        "FOR r IN SELECT t.subnet, t.name, '' AS host, t.name AS old, 'deleted' AS what FROM subnets t "
        "WHERE TG_TABLE_NAME = 'subnets' UNION ALL SELECT h.subnet, (SELECT s.name FROM subnets s WHERE s.subnet "
        "= h.subnet LIMIT 1), h.host, h.note, 'host_deleted' FROM hosts h WHERE TG_TABLE_NAME = 'hosts' LOOP "
        "v_what := r.what; v_subnet := r.subnet; v_name := r.name; v_host := r.host; v_old := r.old; %3%4"
        "END LOOP; RETURN NULL; END $$")
        .arg(entryVariables, operationOfTransaction.arg(writersLockKey), rangeOfSubnet, enterEntry);
}

QStringList changeLogSchema()
{
    QStringList out { QStringLiteral("CREATE TABLE IF NOT EXISTS change_log (id bigint generated by default as "
                                     "identity primary key, changed_at text, who text, what text, operation bigint, "
                                     "subnet text COLLATE \"C\", name text, host text COLLATE \"C\", old_text text, "
                                     "new_text text, first_address bigint, last_address bigint, search text)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS change_log_by_operation ON change_log (operation)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS change_log_of_rows ON change_log (subnet, id) WHERE host = ''"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS change_log_by_host ON change_log (host, id)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS change_log_by_address ON change_log (first_address)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS change_log_pending (id bigint generated by default as identity "
                       "primary key, changed_at text, who text, entries bytea)"),
        // Moved entries are news to a log window that could not move them itself (a viewer's).
        QStringLiteral("CREATE OR REPLACE TRIGGER zarvin_log_moved AFTER DELETE ON change_log_pending FOR EACH "
                       "STATEMENT EXECUTE FUNCTION zarvin_data_changed()"),
        changeEntry(), truncationEntries() };
    for (const QString& table : { QStringLiteral("subnets"), QStringLiteral("hosts") })
        out << QStringLiteral("CREATE OR REPLACE TRIGGER change_log_%1 AFTER INSERT OR UPDATE OR DELETE ON %1 FOR "
                              "EACH ROW WHEN (current_setting('zarvin.logged', true) IS DISTINCT FROM '1') EXECUTE "
                              "FUNCTION change_log_entry()")
                   .arg(table)
            << QStringLiteral("CREATE OR REPLACE TRIGGER change_log_%1_truncated BEFORE TRUNCATE ON %1 FOR EACH "
                              "STATEMENT WHEN (current_setting('zarvin.logged', true) IS DISTINCT FROM '1') EXECUTE "
                              "FUNCTION change_log_truncation()")
                   .arg(table);
    return out;
}

QStringList PostgresEngine::changeLogStatements() const
{
    // Asked at every command's entries.
    static const QStringList statements = changeLogSchema();
    return statements;
}

} // namespace

Status configurePostgres(QSqlDatabase& conn, const QString& url)
{
    const Result<Uri> uri = parsed(url);
    if (!uri.ok())
        return uri;
    conn.setHostName(uri.value.host);
    conn.setPort(uri.value.port.isEmpty() ? -1 : uri.value.port.toInt());
    conn.setDatabaseName(uri.value.dbname);
    conn.setUserName(uri.value.user);
    QStringList options = uri.value.options;
    // An address that does not answer would otherwise hold the window up for minutes.
    const auto timeout = [](const QString& o) { return o.startsWith(QLatin1String("connect_timeout=")); };
    if (std::none_of(options.cbegin(), options.cend(), timeout))
        options << QStringLiteral("connect_timeout='10'");
    conn.setConnectOptions(options.join(QLatin1Char(';')));
    return {};
}

std::unique_ptr<Engine> postgresEngine(const QString& url)
{
    return std::make_unique<PostgresEngine>(url);
}
