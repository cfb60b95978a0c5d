#include "app/startup.h"

#include "app/agreementWindow.h"
#include "app/settings.h"
#include "db/DB.h"
#include "gui/desktop.h"
#include "tree/ZarvinWindow.h"

#include "db/dataDir.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

QWidget* openFirstWindow(QSettings& install, QString* error)
{
    QWidget* window = nullptr;
    if (isAgreementAccepted(install)) {
        try {
            window = new ZarvinWindow();
        } catch (const DbOpenError& e) {
            if (error)
                *error = QStringLiteral("zarvin-subnets: cannot open database %1: %2").arg(e.file, e.text.simplified());
            return nullptr;
        }
    } else {
        window = new agreementWindow(install);
        window->setWindowTitle(QStringLiteral("Лицензионное соглашение"));
    }
    window->setAttribute(Qt::WA_DeleteOnClose);
    centre(window);
    window->show();
    return window;
}

int runApplication(QSettings& install)
{
    // The interface is Russian whatever the locale: Qt's own buttons too ("Отмена", "Да").
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    QDir().mkpath(dataDir()); // a directory named in ZARVIN_SUBNETS_DIR need not exist yet
    // Kept as is: the icon's installed path, without a suffix.
    QApplication::setWindowIcon(QIcon(QStringLiteral("/usr/share/icons/hicolor/256x256/apps/zarvin-kelmora-gui")));
    QString error;
    if (!openFirstWindow(install, &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return QApplication::exec();
}
