#pragma once

#include <QDialog>

namespace hostListCsv {
struct Preview;
}

// The preview of a host list import: what would be added, changed and refused, and why.
// Accepted through "Импортировать"; nothing is written here.
class importWindow : public QDialog {
    Q_OBJECT
public:
    // `tableHasRows`: the hosts window shows rows that the reload after the import would replace.
    importWindow(const hostListCsv::Preview& preview, const QString& subnet, bool tableHasRows, QWidget* parent);

    static constexpr int shownRefusals = 1000; // more would only slow the window down
};
