// The host list to CSV and back, with a preview before anything is written.
#include "hosts/hostsWindow.h"

#include "db/DB.h"
#include "gui/fileDialog.h"
#include "gui/messages.h"
#include "hosts/hostItemModel.h"
#include "hosts/hostListCsv.h"
#include "hosts/importWindow.h"

#include <QFile>
#include <QStandardItemModel>

void hostsWindow::exportCsv()
{
    QString suggested = QStringLiteral("hosts-") + windowSubnet + QStringLiteral(".csv");
    suggested.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString path = fileDialog::saveFile(
        this, QStringLiteral("Экспорт CSV"), fileDialog::csvFilter(), suggested, QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    QVector<hostListCsv::HostNote> rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        const QStandardItem* address = model->item(r, 0);
        const QStandardItem* note = model->item(r, 1);
        rows << hostListCsv::HostNote { address ? address->text() : QString(), note ? note->text() : QString() };
    }
    const Status written = hostListCsv::exportTo(rows, path);
    if (!written.ok())
        return messages::error(
            this, QStringLiteral("Не удалось записать файл ") + path + QStringLiteral(":\n") + written.errorText);
    messages::information(this, QStringLiteral("Экспорт CSV"), QStringLiteral("Список хостов записан в файл ") + path);
}

void hostsWindow::importCsv()
{
    const QString path = fileDialog::openFile(this, QStringLiteral("Импорт CSV"), fileDialog::csvFilter());
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!fileDialog::openForReading(this, file))
        return;
    const Result<hostListCsv::Preview> loaded = hostListCsv::preview(*db, windowSubnet, file);
    if (!loaded.ok())
        return messages::error(
            this, QStringLiteral("Файл ") + path + QStringLiteral(" не импортирован.\n") + loaded.errorText);
    importWindow preview(loaded.value, windowSubnet, model->rowCount() > 0, this);
    if (preview.exec() != QDialog::Accepted)
        return;
    const Status written = hostListCsv::write(*db, windowSubnet, loaded.value);
    if (!written.ok())
        return messages::error(this, notStored(QStringLiteral("Импорт не выполнен"), written));
    viewRecords(windowSubnet);
}
