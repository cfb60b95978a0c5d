#include "db/dataAccess.h"

#include "db/dataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
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

QString databaseText(const QString& file)
{
    const QFileInfo info(file);
    const QString group = QFileInfo(dataDir()).group();
    return QStringLiteral("Нет права записи в файл базы данных ") + file + QStringLiteral(" у пользователя ")
        + userName() + QStringLiteral(" (владелец файла ") + info.owner() + QStringLiteral(", группа ") + info.group()
        + QStringLiteral(").\n\nЧтобы файлом пользовались все участники группы ") + group
        + QStringLiteral(", администратор выполняет команды\n\nsudo chgrp ") + group + QLatin1Char(' ') + file
        + QStringLiteral("\nsudo chmod g+rw ") + file;
}

} // namespace

Status prepareDataDir()
{
    const QString dir = dataDir();
    if (!QDir().mkpath(dir))
        return Status::failure(QStringLiteral("Каталог данных ") + dir
            + QStringLiteral(" не существует, и создать его не удалось.\n\nУстановите программу (пакет "
                             "zarvin-subnets) или укажите другой каталог в переменной ZARVIN_SUBNETS_DIR."));
    if (!mayUse(dir, W_OK | X_OK))
        return Status::failure(directoryText(dir));
    const QString file = databaseFilePath();
    if (QFileInfo::exists(file) && !mayUse(file, R_OK | W_OK))
        return Status::failure(databaseText(file));
    QFile fresh(file);
    if (fresh.open(QIODevice::WriteOnly | QIODevice::NewOnly)) // never follows a planted link
        fresh.close();
    return {};
}
