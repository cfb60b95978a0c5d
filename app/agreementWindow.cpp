#include "app/agreementWindow.h"

#include "app/settings.h"
#include "app/startup.h"
#include "gui/desktop.h"
#include "tree/ZarvinWindow.h"
#include "ui_agreement.h"

#include <QCoreApplication>

agreementWindow::agreementWindow(QSettings& settings, QWidget* parent)
    : QWidget(parent)
    , agree(std::make_unique<Ui::Agree>())
    , install(settings)
{
    agree->setupUi(this);
    connect(agree->pbYes, &QPushButton::clicked, this, &agreementWindow::accept);
    connect(agree->pbNo, &QPushButton::clicked, this, &agreementWindow::nonaccept);
}

agreementWindow::~agreementWindow() = default;

void agreementWindow::accept()
{
    recordAgreement(install);
    const Result<ZarvinWindow*> main = createMainWindow();
    if (!main.ok()) {
        // The acceptance is kept; the user learns why no main window follows.
        reportStartFailure(main.errorText);
        close();
        QCoreApplication::exit(1);
        return;
    }
    main.value->setAttribute(Qt::WA_DeleteOnClose);
    centre(main.value);
    main.value->show();
    close();
}

void agreementWindow::nonaccept()
{
    close();
}
