#pragma once

#include <QDialog>
#include <QString>

#include <optional>

// The subnet calculator.
class calculateSubnetsWindow : public QDialog {
    Q_OBJECT
public:
    explicit calculateSubnetsWindow(const std::optional<QString>& value, QWidget* parent = nullptr);
};
