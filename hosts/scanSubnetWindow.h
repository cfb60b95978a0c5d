#pragma once

#include "hosts/scan/scanRequest.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QRadioButton;

// Asks how to scan: ICMP (by fping when `cbFast` is ticked), or TCP on the port typed into `port`.
// The choice of fping is this user's own: the dialog opens with the last accepted one.
class scanSubnetWindow : public QDialog {
    Q_OBJECT
public:
    explicit scanSubnetWindow(QWidget* parent = nullptr);

    // The method and, for TCP, the port text as typed; none when no method is chosen.
    std::optional<ScanRequest> scanParameter() const;

public slots:
    void stateRadioButton();

private:
    QGridLayout* gridLayout;
    QLabel* label;
    QLineEdit* port;
    QRadioButton* rbICMP;
    QRadioButton* rbTCP;
    QCheckBox* cbFast;
    bool fpingInstalled;
};
