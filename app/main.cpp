#include "app/settings.h"
#include "app/startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    auto install = openSettings();
    QApplication app(argc, argv);
    return runApplication(*install);
}
