#include "hosts/hostsWindow.h"

#include "db/DB.h"
#include "ui_hostsWindow.h"

#include <QStandardItemModel>

hostsWindow::hostsWindow(const QString& item_id, QWidget* parent)
    : QWidget(parent), hosts(std::make_unique<Ui::Hosts>()), windowSubnet(item_id)
{
    hosts->setupUi(this);
    db = std::make_unique<DB>();
    tableModel();
    hosts->labelPort->hide();
    hosts->progressBar->hide();
}

hostsWindow::~hostsWindow() = default;

void hostsWindow::addRow() {}

void hostsWindow::tableModel()
{
    model = new QStandardItemModel(0, 2, this);
    hosts->tableView->setModel(model);
}

void hostsWindow::contextMenu(const QPoint&) {}
