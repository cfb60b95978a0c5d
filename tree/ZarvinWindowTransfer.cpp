// The main window's commands that move data in and out: CSV of the whole inventory, backup, restore.
#include "tree/ZarvinWindow.h"

#include "db/DB.h"
#include "db/backup.h"
#include "gui/fileDialog.h"
#include "gui/messages.h"
#include "hosts/hostsWindow.h"
#include "tree/inventoryCsv.h"

#include <QApplication>
#include <QDate>
#include <QFile>

namespace {

const QString dbFilter = QStringLiteral("Базы данных SQLite (*.db *.sqlite *.sqlite3);;Все файлы (*)");

// Reading and writing a large file takes a moment; the cursor says so.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

QString rowCounts(qint64 subnets, qint64 hosts)
{
    return QStringLiteral("строк дерева — %1, хостов — %2").arg(subnets).arg(hosts);
}

} // namespace

void ZarvinWindow::exportInventory()
{
    const QString path = fileDialog::saveFile(this, QStringLiteral("Экспорт в CSV"), fileDialog::csvFilter(),
        QStringLiteral("zarvin-subnets.csv"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    Status written;
    {
        BusyCursor busy;
        written = inventoryCsv::exportTo(*db, path);
    }
    if (!written.ok())
        return messages::error(
            this, QStringLiteral("Не удалось записать файл ") + path + QStringLiteral(":\n") + written.errorText);
    messages::information(
        this, QStringLiteral("Экспорт в CSV"), QStringLiteral("База данных выгружена в файл ") + path);
}

void ZarvinWindow::importInventory()
{
    if (const Status empty = inventoryCsv::refusalUnlessEmpty(*db); !empty.ok())
        return messages::error(this, empty.errorText);
    const QString path = fileDialog::openFile(this, QStringLiteral("Импорт из CSV"), fileDialog::csvFilter());
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!fileDialog::openForReading(this, file))
        return;
    Result<inventoryCsv::Plan> plan = Status();
    Status written;
    {
        BusyCursor busy;
        plan = inventoryCsv::read(file);
        written = plan.ok() ? inventoryCsv::write(*db, plan.value) : Status(plan);
    }
    if (!written.ok())
        return messages::error(this,
            QStringLiteral("Файл ") + path + QStringLiteral(" не импортирован, база данных не изменилась.\n")
                + written.errorText);
    load_data();
    QString done = QStringLiteral("Импортировано: ") + rowCounts(plan.value.subnets.size(), plan.value.hosts.size())
        + QStringLiteral(".");
    if (plan.value.repeatedHosts > 0)
        done += QStringLiteral("\nАдреса, повторённые в файле: %1; записана последняя строка каждого.")
                    .arg(plan.value.repeatedHosts);
    messages::information(this, QStringLiteral("Импорт из CSV"), done);
}

void ZarvinWindow::backupDatabase()
{
    const QString suggested = QStringLiteral("subnets-%1.db").arg(QDate::currentDate().toString(Qt::ISODate));
    const QString path
        = fileDialog::saveFile(this, QStringLiteral("Резервная копия"), dbFilter, suggested, QStringLiteral("db"));
    if (path.isEmpty())
        return;
    Status copied;
    {
        BusyCursor busy;
        copied = backup::makeCopy(*db, path);
    }
    if (!copied.ok())
        return messages::error(this, QStringLiteral("Резервная копия не записана.\n") + copied.errorText);
    messages::information(
        this, QStringLiteral("Резервная копия"), QStringLiteral("Резервная копия записана в файл ") + path);
}

void ZarvinWindow::restoreDatabase()
{
    const QString path = fileDialog::openFile(this, QStringLiteral("Восстановить из копии"), dbFilter);
    if (path.isEmpty())
        return;
    Result<backup::Inspection> inspected = Status();
    {
        BusyCursor busy;
        inspected = backup::inspect(*db, path, inventoryCsv::checkStoredRows);
    }
    if (!inspected.ok())
        return messages::error(
            this, QStringLiteral("Из файла ") + path + QStringLiteral(" восстановить нельзя.\n") + inspected.errorText);
    const backup::Inspection& copy = inspected.value;
    const QString text = QStringLiteral("Всё содержимое базы данных будет заменено содержимым копии.\n")
        + QStringLiteral("Сейчас в базе: ") + rowCounts(copy.subnetsNow, copy.hostsNow) + QStringLiteral(".\nВ копии: ")
        + rowCounts(copy.subnetsInCopy, copy.hostsInCopy)
        + QStringLiteral(".\nОткрытые окна учёта хостов будут перезагружены из базы, несохранённые строки в них "
                         "пропадут.\n\nВосстановить из копии?");
    if (!messages::question(this, QStringLiteral("Восстановить из копии"), text, true))
        return;
    Status restored;
    {
        BusyCursor busy;
        restored = backup::restore(*db, path, inventoryCsv::checkStoredRows);
    }
    if (!restored.ok())
        return messages::error(
            this, QStringLiteral("Восстановление не выполнено, база данных не изменилась.\n") + restored.errorText);
    load_data();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* hosts = qobject_cast<hostsWindow*>(w))
            hosts->viewRecords(hosts->subnet());
    messages::information(
        this, QStringLiteral("Восстановить из копии"), QStringLiteral("База данных восстановлена из файла ") + path);
}
