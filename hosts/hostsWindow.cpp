#include "hosts/hostsWindow.h"

#include "db/DB.h"
#include "ui_hostsWindow.h"

hostsWindow::hostsWindow(const QString& item_id, QWidget* parent)
    : QWidget(parent), hosts(std::make_unique<Ui::Hosts>()), windowSubnet(item_id)
{
    hosts->setupUi(this);
    db = std::make_unique<DB>();
    hosts->labelPort->hide();
    hosts->progressBar->hide();
}

hostsWindow::~hostsWindow() = default;
