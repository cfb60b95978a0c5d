#include "app/startup.h"

#include "app/agreementWindow.h"
#include "app/settings.h"
#include "db/DB.h"
#include "db/dataAccess.h"
#include "gui/desktop.h"
#include "gui/messages.h"
#include "tree/ZarvinWindow.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

namespace {

QtMessageHandler qtHandler = nullptr;

void printError(const QString& text)
{
    std::fprintf(stderr, "zarvin-subnets: %s\n", text.toLocal8Bit().constData());
}

// Qt's fatal message at this point means no platform plugin could start: no display.
void noDisplayHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        if (qtHandler)
            qtHandler(type, context, text);
        return;
    }
    printError(QStringLiteral("нет графического дисплея: программе нужен графический сеанс (X11 или Wayland), "
                              "а переменные DISPLAY и WAYLAND_DISPLAY не заданы или дисплей недоступен. "
                              "Запустите программу из меню рабочего стола или из терминала в графическом сеансе."));
    std::_Exit(1);
}

// The interface is Russian whatever the locale: Qt's own buttons too ("Отмена", "Да").
void installRussianTranslation()
{
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

} // namespace

int reportStartFailure(const QString& text)
{
    printError(text);
    messages::error(nullptr, text);
    return 1;
}

std::unique_ptr<QApplication> createApplication(int& argc, char** argv)
{
    qtHandler = qInstallMessageHandler(noDisplayHandler);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(qtHandler);
    return app;
}

QWidget* openFirstWindow(QSettings& install, QString* error)
{
    QWidget* window = nullptr;
    if (isAgreementAccepted(install)) {
        try {
            window = new ZarvinWindow();
        } catch (const DbOpenError& e) {
            if (error)
                *error = QStringLiteral("Не удалось открыть базу данных ") + e.file + QStringLiteral(":\n") + e.text;
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
    installRussianTranslation();
    QApplication::setWindowIcon(QIcon(QStringLiteral("/usr/share/icons/hicolor/256x256/apps/zarvin-kelmora-gui")));
    const QString problem = prepareDataDir();
    if (!problem.isEmpty())
        return reportStartFailure(problem);
    QString error;
    if (!openFirstWindow(install, &error))
        return reportStartFailure(error);
    return QApplication::exec();
}
