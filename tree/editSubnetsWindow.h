#pragma once

#include <QDialog>
#include <QStringList>
#include <QVariantList>
#include <QVector>

class QLabel;
class QLineEdit;

// Renames one row: its name is editable, its subnet is shown but fixed.
class editSubnetsWindow : public QDialog {
    Q_OBJECT
public:
    // `value`: rows of (id, name, subnet, parent_subnet); empty when there is no row.
    explicit editSubnetsWindow(const QVector<QVariantList>& value, QWidget* parent = nullptr);

    // After an accepted exec(): (name as typed, subnet).
    QStringList edit(const QVector<QVariantList>& value) const;

    QLineEdit* nameEdit = nullptr;
    QLabel* subnetLabel = nullptr;
};
