#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <optional>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;

// The subnet calculator: an address and a mask in, six facts about their network out.
// Its opener sets the size, the window flags and the title.
class calculateSubnetsWindow : public QDialog {
    Q_OBJECT
public:
    // `value` is a subnet text; its address part pre-fills the address field.
    explicit calculateSubnetsWindow(const std::optional<QString>& value, QWidget* parent = nullptr);

public slots:
    // Shows the facts, or clears them and refuses an address it cannot read.
    // Kept as spelt ("Sabnet"): other code and scripts call the calculation by this name.
    void calculateSabnet();
    void clearLabel();

private:
    void createResultLabels();
    void buildLayout();

    // Object names "second", "masks" and "label1" to "label12" are the interface; these are not.
    QLineEdit* addressEdit;
    QComboBox* maskBox;
    std::array<QLabel*, 6> captions; // "label1" to "label6"
    std::array<QLabel*, 6> facts; // "label7" to "label12", each beside its caption
    QFormLayout* layout;
};
