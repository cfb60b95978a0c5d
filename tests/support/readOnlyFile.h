#pragma once

#include <QFile>
#include <QFileInfo>

#include <sys/fsuid.h>
#include <unistd.h>

// Makes a file readable but not writable for this thread while the object lives. Root writes any
// file whatever its mode, so as root the thread's file-system identity becomes nobody's, which
// drops the override as well; the directory is opened to others for the time being.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QString& path)
        : file(path)
        , dir(QFileInfo(path).absolutePath())
        , dirMode(QFile::permissions(dir))
    {
        QFile::setPermissions(dir, dirMode | QFile::ReadOther | QFile::ExeOther);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        if (geteuid() == 0) {
            setfsgid(65534); // else the root group's bits of the directory would apply
            setfsuid(65534);
        }
    }
    ~ReadOnlyFile()
    {
        if (geteuid() == 0) {
            setfsuid(0);
            setfsgid(0);
        }
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        QFile::setPermissions(dir, dirMode);
    }

private:
    QString file;
    QString dir;
    QFile::Permissions dirMode;
};
