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

Result<ZarvinWindow*> createMainWindow()
{
    auto main = std::make_unique<ZarvinWindow>();
    const Status& opened = main->dbStatus();
    if (!opened.ok())
        return Status::failure(QStringLiteral("Не удалось открыть базу данных ") + main->dbFileName()
                + QStringLiteral(":\n") + opened.errorText,
            opened.code);
    main->showReadOnlyReason();
    return main.release();
}

Result<QWidget*> openFirstWindow(QSettings& install)
{
    QWidget* window = nullptr;
    if (isAgreementAccepted(install)) {
        const Result<ZarvinWindow*> main = createMainWindow();
        if (!main.ok())
            return Status(main);
        window = main.value;
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
    if (const Status prepared = prepareDataDir(); !prepared.ok())
        return reportStartFailure(prepared.errorText);
    const Result<QWidget*> first = openFirstWindow(install);
    if (!first.ok())
        return reportStartFailure(first.errorText);
    return QApplication::exec();
}
