#pragma once

#include <QWidget>

#include <memory>

class QSettings;
namespace Ui {
class Agree;
}

// Shown at start until the user accepts the licence once.
class agreementWindow : public QWidget {
    Q_OBJECT
public:
    explicit agreementWindow(QSettings& install, QWidget* parent = nullptr);
    ~agreementWindow() override;

public slots:
    void accept();
    void nonaccept();

private:
    std::unique_ptr<Ui::Agree> agree;
    QSettings& install;
};
