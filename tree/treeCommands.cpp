// The commands that change the tree: add, delete, empty, rename.
#include "tree/ZarvinWindow.h"

void ZarvinWindow::addSubnet() {}

bool ZarvinWindow::createOrg(const std::optional<QStringList>&)
{
    return true;
}

void ZarvinWindow::delete_item() {}

void ZarvinWindow::deleteDB() {}

void ZarvinWindow::editRow() {}

QVector<QVariantList> ZarvinWindow::defaultData()
{
    return {};
}

void ZarvinWindow::updateRecord(const QStringList&) {}
