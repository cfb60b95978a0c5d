#pragma once

#include "net/ipv4.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <memory>
#include <optional>

class DB;
struct Status;
template <class T> struct Result;
class QComboBox;
class QLineEdit;
class QPushButton;

// The dialog in which every organisation and branch is born. It reads the tree through a
// connection of its own; check dbStatus() before showing it.
class addSubnetsWindow : public QDialog {
    Q_OBJECT
public:
    // `value`: the parent's subnet text for a branch, none for an organisation.
    explicit addSubnetsWindow(const std::optional<QString>& value, QWidget* parent = nullptr);
    ~addSubnetsWindow() override;

    // Ok when its database is open; otherwise the dialog must not be shown.
    const Status& dbStatus() const;

    // After an accepted exec(), with the constructor's value: (name, subnet) for an
    // organisation, (name, subnet, parent subnet) for a branch; else the refusal for the
    // opener to show in an error box.
    Result<QStringList> add(const std::optional<QString>& value);

    // Kept as named: does `network` overlap the network in the first field of any of `rows`?
    static bool checkSubnet(const QVector<QVariantList>& rows, const net::Network& network);

    QLineEdit* nameEdit = nullptr;
    QLineEdit* addressEdit = nullptr;
    QComboBox* maskBox = nullptr;
    QPushButton* pbSuggest = nullptr;

public slots:
    // Puts into the address field the lowest free network of the chosen mask inside the parent.
    void suggest();

private:
    Result<QStringList> addBranch(const QString& name, const net::Network& network, const QString& parent);

    std::unique_ptr<DB> db;
    std::optional<QString> parentSubnet;
};
