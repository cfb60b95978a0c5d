#include "db/connectionSettings.h"

#include "db/dataDir.h"
#include "db/engine.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextCodec>
#include <QUrl>

namespace connectionSettings {

namespace {

QAtomicInt trialCounter;
const QString urlKey = QStringLiteral("Database/url");

QString encoded(const QString& part)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(part, "/"));
}

// A .pgpass field with ':' and '\' escaped.
QString escaped(const QString& value)
{
    QString v = value;
    return v.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char(':'), QStringLiteral("\\:"));
}

// An empty field (libpq's default) matches anything.
QString passField(const QString& value)
{
    return value.isEmpty() ? QStringLiteral("*") : escaped(value);
}

// A connection of its own for one use, removed when the object goes.
class Trial {
public:
    Trial()
        : name(QStringLiteral("zarvin-connection-trial-%1").arg(trialCounter.fetchAndAddRelaxed(1)))
    { }
    ~Trial()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    Trial(const Trial&) = delete;
    Trial& operator=(const Trial&) = delete;
    QSqlDatabase conn() const { return QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name); }

private:
    QString name;
};

} // namespace

// The parameters of a URI's query that the fields do not stand for.
QStringList otherParameters(const QString& url)
{
    QStringList kept;
    const QStringList fields = { QStringLiteral("host"), QStringLiteral("port"), QStringLiteral("dbname"),
        QStringLiteral("user"), QStringLiteral("password") };
    for (const QString& pair : url.section(QLatin1Char('?'), 1).split(QLatin1Char('&'), Qt::SkipEmptyParts))
        if (!fields.contains(pair.section(QLatin1Char('='), 0, 0)))
            kept << pair;
    return kept;
}

QString urlOf(const Server& s, const QString& earlier)
{
    const bool socket = s.host.startsWith(QLatin1Char('/'));
    QString url = QStringLiteral("postgresql://");
    if (!s.user.isEmpty())
        url += encoded(s.user) + QLatin1Char('@');
    if (!socket) {
        url += s.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + s.host + QLatin1Char(']') : encoded(s.host);
        if (!s.port.isEmpty())
            url += QLatin1Char(':') + s.port;
    }
    url += QLatin1Char('/') + encoded(s.database);
    QStringList query;
    if (socket)
        query << QStringLiteral("host=") + encoded(s.host)
              << (s.port.isEmpty() ? QString() : QStringLiteral("port=") + s.port);
    query.removeAll(QString());
    query += otherParameters(earlier);
    return query.isEmpty() ? url : url + QLatin1Char('?') + query.join(QLatin1Char('&'));
}

Server serverOf(const QString& url)
{
    Trial trial;
    QSqlDatabase conn = trial.conn();
    if (url.isEmpty() || !configurePostgres(conn, url).ok())
        return {};
    return { conn.hostName(), conn.port() < 0 ? QString() : QString::number(conn.port()), conn.databaseName(),
        conn.userName() };
}

QString environmentUrl()
{
    return qEnvironmentVariable("ZARVIN_DATABASE").trimmed();
}

QString savedUrl()
{
    QSettings install(settingsFilePath(), QSettings::IniFormat);
    install.setIniCodec(QTextCodec::codecForName("UTF-8"));
    return install.value(urlKey).toString().trimmed();
}

Status saveUrl(const QString& url)
{
    QSettings install(settingsFilePath(), QSettings::IniFormat);
    install.setIniCodec(QTextCodec::codecForName("UTF-8"));
    if (url.isEmpty())
        install.remove(urlKey);
    else
        install.setValue(urlKey, url);
    install.sync();
    if (install.status() != QSettings::NoError)
        return Status::failure(QStringLiteral("Не удалось записать файл настроек ") + settingsFilePath()
            + QStringLiteral(": проверьте право записи в каталог данных."));
    return {};
}

Result<QString> tryServer(const QString& url, const QString& password)
{
    Trial trial;
    QSqlDatabase conn = trial.conn();
    if (!conn.isValid())
        return Status::failure(QStringLiteral("Драйвер PostgreSQL для Qt не установлен (пакет libqt5sql5-psql)."));
    if (const Status set = configurePostgres(conn, url); !set.ok())
        return set;
    if (!password.isEmpty())
        conn.setPassword(password);
    if (!conn.open())
        return Status::failure(
            QStringLiteral("Не удалось подключиться: ") + conn.lastError().text().trimmed(), sqlite::Unreachable);
    QSqlQuery q(conn);
    if (!q.exec(QStringLiteral("SELECT current_user, current_database(), current_setting('server_version')"))
        || !q.next())
        return Status::failure(q.lastError().text());
    return QStringLiteral("Подключение установлено: база данных %1, пользователь %2, PostgreSQL %3.")
        .arg(q.value(1).toString(), q.value(0).toString(), q.value(2).toString());
}

Status storePassword(const Server& s, const QString& password)
{
    const QString path = QDir::homePath() + QStringLiteral("/.pgpass");
    const QString key = QStringList { passField(s.host.isEmpty() ? QStringLiteral("localhost") : s.host),
        passField(s.port), passField(s.database), passField(s.user) }
                            .join(QLatin1Char(':'))
        + QLatin1Char(':');
    QStringList lines;
    QFile old(path);
    if (old.open(QIODevice::ReadOnly))
        for (const QString& line : QString::fromUtf8(old.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (!line.startsWith(key))
                lines << line;
    lines << key + escaped(password);
    QSaveFile file(path);
    // The password must never be readable by others, not even for a moment: libpq ignores the file then.
    const bool written = file.open(QIODevice::WriteOnly) && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)
        && file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) >= 0 && file.commit();
    if (!written)
        return Status::failure(
            QStringLiteral("Не удалось записать пароль в ") + path + QStringLiteral(": ") + file.errorString());
    return {};
}

} // namespace connectionSettings
