#include "db/dataAccess.h"

#include "db/DB.h"
#include "db/dataDir.h"
#include "db/engine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As the effective user: the one who opens the files.
bool mayUse(const QString& path, int mode)
{
    return faccessat(AT_FDCWD, QFile::encodeName(path).constData(), mode, AT_EACCESS) == 0;
}

QString userName()
{
    const passwd* pw = getpwuid(geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(geteuid());
}

// Named in the group's member list (or the group is the user's own): only a new login is missing.
bool listedInGroup(const QString& user, gid_t gid)
{
    const passwd* pw = getpwnam(user.toLocal8Bit().constData());
    if (pw && pw->pw_gid == gid)
        return true;
    const group* gr = getgrgid(gid);
    for (char** member = gr ? gr->gr_mem : nullptr; member && *member; ++member)
        if (QString::fromLocal8Bit(*member) == user)
            return true;
    return false;
}

QString directoryText(const QString& dir)
{
    const QString user = userName();
    const QFileInfo info(dir);
    const QString denied
        = QStringLiteral("Нет права записи в каталог данных ") + dir + QStringLiteral(" у пользователя ") + user;
    struct stat st { };
    if (stat(QFile::encodeName(dir).constData(), &st) != 0 || !(st.st_mode & S_IWGRP))
        return denied + QStringLiteral(" (владелец каталога ") + info.owner()
            + QStringLiteral(").\n\nДля своей базы данных укажите свой каталог в переменной ZARVIN_SUBNETS_DIR.");
    if (listedInGroup(user, st.st_gid))
        return denied + QStringLiteral(".\n\nПользователь ") + user + QStringLiteral(" уже включён в группу ")
            + info.group()
            + QStringLiteral(", но это действует только с нового входа в систему: выйдите из сеанса и войдите снова.");
    return denied + QStringLiteral(".\n\nКаталогом пользуются участники группы ") + info.group()
        + QStringLiteral(". Чтобы получить доступ, администратор выполняет команду\n\nsudo adduser ") + user
        + QLatin1Char(' ') + info.group() + QStringLiteral("\n\nзатем войдите в систему заново.");
}

QString databaseText(const QString& file, bool readable)
{
    const QFileInfo info(file);
    const QString group = QFileInfo(dataDir()).group();
    return (readable ? QStringLiteral("Нет права записи в файл базы данных ")
                     : QStringLiteral("Нет права чтения файла базы данных "))
        + file + QStringLiteral(" у пользователя ") + userName() + QStringLiteral(" (владелец файла ") + info.owner()
        + QStringLiteral(", группа ") + info.group()
        + QStringLiteral(").\n\nЧтобы файлом пользовались все участники группы ") + group
        + QStringLiteral(", администратор выполняет команды\n\nsudo chgrp ") + group + QLatin1Char(' ') + file
        + QStringLiteral("\nsudo chmod g+rw ") + file;
}

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
};

// What stands under the name now, never looked at through a link; a missing file is made.
Result<FileId> checkedFile(const QString& file)
{
    const QByteArray path = QFile::encodeName(file);
    // O_EXCL refuses any name that exists, a dangling link included.
    int fd = open(path.constData(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST)
        fd = open(path.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC); // a link itself, not its target
    if (fd < 0)
        return Status::failure(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st { };
    const bool known = fstat(fd, &st) == 0;
    close(fd);
    if (known && S_ISLNK(st.st_mode))
        return Status::failure(file
            + QStringLiteral(" — символическая ссылка. Программа не открывает базу данных по ссылке: её мог "
                             "подложить другой пользователь. Уберите ссылку и положите на её место сам файл базы "
                             "данных."));
    if (!known || !S_ISREG(st.st_mode))
        return Status::failure(file
            + QStringLiteral(" — не обычный файл. Уберите его: программа создаст пустую базу данных, или положите "
                             "на его место файл базы данных."));
    return FileId { st.st_dev, st.st_ino };
}

// SQLite resolves the links in a name itself and then opens the result without following one
// (O_NOFOLLOW): the name it reports is the one it opened. That must be the checked name (its
// directory's own links resolved), still holding the checked file.
bool openedChecked(const QSqlDriver* driver, const char* schema, const QString& file, const FileId& checked)
{
    const QVariant handle = driver ? driver->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    const char* opened = sqlite3_db_filename(*static_cast<sqlite3* const*>(handle.constData()), schema);
    const QFileInfo info(file);
    struct stat st { };
    return opened && QFile::decodeName(opened) == info.dir().canonicalPath() + QLatin1Char('/') + info.fileName()
        && lstat(opened, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == checked.device && st.st_ino == checked.inode;
}

} // namespace

Status prepareDataDir()
{
    // A server holds the data: this user needs no database file, nor the right to make one.
    if (!Engine::configuredUrl().isEmpty())
        return {};
    const QString dir = dataDir();
    if (!QDir().mkpath(dir))
        return Status::failure(QStringLiteral("Каталог данных ") + dir
            + QStringLiteral(" не существует, и создать его не удалось.\n\nУстановите программу (пакет "
                             "zarvin-subnets) или укажите другой каталог в переменной ZARVIN_SUBNETS_DIR."));
    const QString file = databaseFilePath();
    // Without the right to write there is still the database to look at; without it, nothing.
    if (!mayUse(dir, W_OK | X_OK) && !mayUse(file, R_OK))
        return Status::failure(directoryText(dir));
    if (QFileInfo::exists(file) && !mayUse(file, R_OK))
        return Status::failure(databaseText(file, false));
    return {};
}

Status openDatabaseFile(QSqlDatabase& conn)
{
    const QString file = conn.databaseName();
    const Result<FileId> checked = checkedFile(file);
    if (!checked.ok())
        return checked;
    // A file this user cannot write SQLite opens read-only, and in a directory they cannot write
    // every write fails as READONLY: either way the file opens for viewing.
    if (!conn.open())
        return Status::failure(conn.lastError().text());
    if (openedChecked(conn.driver(), "main", file, checked.value))
        return {};
    conn.close();
    return Status::failure(QStringLiteral("Файл базы данных ") + file
        + QStringLiteral(" подменили, пока программа его открывала. Проверьте, кто ещё работает с каталогом "
                         "данных, и запустите программу снова."));
}

Status attachDatabaseFile(DB& db, const QString& file, const QString& schema)
{
    const Result<FileId> checked = checkedFile(file);
    if (!checked.ok())
        return checked;
    if (const SqlResult attached = db.run(QStringLiteral("ATTACH DATABASE ? AS ") + schema, { file }); !attached.ok())
        return attached;
    if (openedChecked(db.newQuery().driver(), schema.toUtf8().constData(), file, checked.value))
        return {};
    (void)db.run(QStringLiteral("DETACH DATABASE ") + schema);
    return Status::failure(file + QStringLiteral(" подменили, пока программа его открывала."));
}

QString readOnlyReason()
{
    const QString dir = dataDir();
    if (!mayUse(dir, W_OK | X_OK))
        return directoryText(dir);
    const QString file = databaseFilePath();
    return mayUse(file, W_OK) ? QString() : databaseText(file, true);
}
