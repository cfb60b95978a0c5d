#include "app/agreementWindow.h"

#include "app/settings.h"
#include "app/startup.h"
#include "db/DB.h"
#include "gui/desktop.h"
#include "tree/ZarvinWindow.h"
#include "ui_agreement.h"

#include <QCoreApplication>

agreementWindow::agreementWindow(QSettings& install, QWidget* parent)
    : QWidget(parent)
    , agree(std::make_unique<Ui::Agree>())
    , install(install)
{
    agree->setupUi(this);
    connect(agree->pbYes, &QPushButton::clicked, this, &agreementWindow::accept);
    connect(agree->pbNo, &QPushButton::clicked, this, &agreementWindow::nonaccept);
}

agreementWindow::~agreementWindow() = default;

void agreementWindow::accept()
{
    recordAgreement(install);
    try {
        auto* main = new ZarvinWindow();
        main->setAttribute(Qt::WA_DeleteOnClose);
        centre(main);
        main->show();
    } catch (const DbOpenError& e) {
        // The acceptance is kept; the user learns why no main window follows.
        reportStartFailure(QStringLiteral("Не удалось открыть базу данных ") + e.file + QStringLiteral(":\n") + e.text);
        close();
        QCoreApplication::exit(1);
        return;
    }
    close();
}

void agreementWindow::nonaccept()
{
    close();
}
