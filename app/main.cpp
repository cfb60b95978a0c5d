#include "app/settings.h"
#include "app/startup.h"

#include <QApplication>

#include <sys/stat.h>

int main(int argc, char* argv[])
{
    // The data directory is shared by a group: the database, its journal and the settings that
    // this program creates must stay writable for the other members.
    umask(002);
    auto install = openSettings();
    const auto app = createApplication(argc, argv);
    return runApplication(*install);
}
