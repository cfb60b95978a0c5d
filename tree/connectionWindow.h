#pragma once

#include "db/connectionSettings.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QRadioButton;

// Which database the program uses: the data directory's file or a PostgreSQL server. OK saves the
// choice in the settings file (and a typed password in ~/.pgpass alone); the opener then reopens
// its windows on it.
class connectionWindow : public QDialog {
    Q_OBJECT
public:
    explicit connectionWindow(QWidget* parent = nullptr);

    // The chosen database's URI; empty for the file.
    QString url() const;

public slots:
    // Connects once to the server given and says what happened.
    void check();
    void accept() override;

private:
    QLineEdit* field(const char* name, const QString& text);
    void showChoice();

    QRadioButton* embedded = nullptr;
    QRadioButton* server = nullptr;
    QLineEdit *host = nullptr, *port = nullptr, *database = nullptr, *user = nullptr, *password = nullptr;
    QLabel* result = nullptr;
};
