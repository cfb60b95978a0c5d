#include "hosts/hostModel.h"

#include "hosts/hostItemModel.h"

#include <QStandardItemModel>

namespace hostModel {

bool onlyMarks(const QVector<int>& roles)
{
    return roles == QVector<int> { noteWrittenRole } || roles == QVector<int> { unchangedRole };
}

hostItemModel* newModel(QObject* parent)
{
    auto* model = new hostItemModel(0, 2, parent);
    model->setHorizontalHeaderLabels({ QStringLiteral("IP-адрес хоста"), QStringLiteral("Примечание") });
    return model;
}

void fill(QStandardItemModel& model, const QVector<QVariantList>& rows)
{
    for (int i = 0; i < rows.size(); ++i) {
        auto* address = new QStandardItem(rows.at(i).value(0).toString());
        address->setData(true, unchangedRole);
        model.setItem(i, 0, address);
        model.setItem(i, 1, new QStandardItem(rows.at(i).value(1).toString()));
    }
}

bool hasUnsavedRows(const QStandardItemModel& model)
{
    for (int row = 0; row < model.rowCount(); ++row)
        if (!model.index(row, 0).data(unchangedRole).isValid())
            return true;
    return false;
}

} // namespace hostModel
