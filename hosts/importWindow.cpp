#include "hosts/importWindow.h"

#include "hosts/hostListCsv.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString summaryOf(const hostListCsv::Preview& p)
{
    return QStringLiteral("Новых адресов: %1\nСохранённых адресов с новым примечанием: %2\n"
                          "Без изменений: %3\nОтклонено строк: %4")
        .arg(p.fresh.size())
        .arg(p.changed.size())
        .arg(p.unchanged)
        .arg(p.refused.size());
}

QTableWidget* refusalTable(const QVector<hostListCsv::Refused>& refused, QWidget* parent)
{
    const int rows = std::min(int(refused.size()), importWindow::shownRefusals);
    auto* table = new QTableWidget(rows, 3, parent);
    table->setObjectName(QStringLiteral("refusedTable"));
    table->setHorizontalHeaderLabels({ QStringLiteral("Строка"), QStringLiteral("Адрес"), QStringLiteral("Причина") });
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    for (int r = 0; r < rows; ++r) {
        const hostListCsv::Refused& item = refused.at(r);
        table->setItem(r, 0, new QTableWidgetItem(QString::number(item.line)));
        table->setItem(r, 1, new QTableWidgetItem(item.address));
        auto* reason = new QTableWidgetItem(item.reason);
        reason->setToolTip(item.reason); // long reasons do not fit the column
        table->setItem(r, 2, reason);
    }
    table->resizeColumnToContents(0);
    table->setColumnWidth(1, 130);
    return table;
}

} // namespace

importWindow::importWindow(
    const hostListCsv::Preview& preview, const QString& subnet, bool tableHasRows, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("importWindow"));
    setWindowTitle(QStringLiteral("Импорт CSV в подсеть ") + subnet);
    auto* layout = new QVBoxLayout(this);
    auto* summary = new QLabel(summaryOf(preview), this);
    summary->setObjectName(QStringLiteral("summary"));
    layout->addWidget(summary);
    if (!preview.refused.isEmpty()) {
        layout->addWidget(new QLabel(QStringLiteral("Отклонённые строки не будут записаны:"), this));
        layout->addWidget(refusalTable(preview.refused, this));
        if (preview.refused.size() > shownRefusals)
            layout->addWidget(new QLabel(
                QStringLiteral("Показаны первые %1 из %2.").arg(shownRefusals).arg(preview.refused.size()), this));
    }
    const bool nothingToWrite = preview.fresh.isEmpty() && preview.changed.isEmpty();
    if (nothingToWrite)
        layout->addWidget(new QLabel(QStringLiteral("Записывать нечего."), this));
    else if (tableHasRows)
        layout->addWidget(new QLabel(QStringLiteral("После импорта таблица покажет хосты, сохранённые в базе; "
                                                    "несохранённые строки таблицы пропадут."),
            this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* import = buttons->addButton(QStringLiteral("Импортировать"), QDialogButtonBox::AcceptRole);
    import->setObjectName(QStringLiteral("pbImportRows"));
    import->setEnabled(!nothingToWrite);
    buttons->button(QDialogButtonBox::Cancel)->setDefault(nothingToWrite);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(760, preview.refused.isEmpty() ? 200 : 480);
}
