#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class DB;
namespace Ui {
class Hosts;
}

// The host list of one subnet. Throws DbOpenError when its database cannot be opened.
class hostsWindow : public QWidget {
    Q_OBJECT
public:
    explicit hostsWindow(const QString& item_id, QWidget* parent = nullptr);
    ~hostsWindow() override;

    const QString& subnet() const { return windowSubnet; }

private:
    std::unique_ptr<Ui::Hosts> hosts;
    QString windowSubnet;
    std::unique_ptr<DB> db;
};
