#include "hosts/hostModel.h"

#include "hosts/hostItemModel.h"

#include <QStandardItemModel>

namespace hostModel {

QStandardItemModel* newModel(QObject* parent)
{
    auto* model = new hostItemModel(0, 2, parent);
    model->setHorizontalHeaderLabels({ QStringLiteral("IP-адрес хоста"), QStringLiteral("Примечание") });
    return model;
}

void fill(QStandardItemModel& model, const QVector<QVariantList>& rows)
{
    for (int i = 0; i < rows.size(); ++i) {
        model.setItem(i, 0, new QStandardItem(rows.at(i).value(0).toString()));
        model.setItem(i, 1, new QStandardItem(rows.at(i).value(1).toString()));
    }
}

} // namespace hostModel
