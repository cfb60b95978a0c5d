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
    std::array<QLabel*, 6> results() const;

    QLineEdit* second;
    QComboBox* masks;
    QLabel* label1;
    QLabel* label2;
    QLabel* label3;
    QLabel* label4;
    QLabel* label5;
    QLabel* label6;
    QLabel* label7;
    QLabel* label8;
    QLabel* label9;
    QLabel* label10;
    QLabel* label11;
    QLabel* label12;
    QFormLayout* layout;
};
