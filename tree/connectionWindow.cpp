#include "tree/connectionWindow.h"

#include "db/dataDir.h"
#include "gui/messages.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using connectionSettings::Server;

connectionWindow::connectionWindow(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("connectionWindow"));
    setWindowTitle(QStringLiteral("Подключение к базе данных"));
    auto* layout = new QVBoxLayout(this);
    if (const QString env = connectionSettings::environmentUrl(); !env.isEmpty()) {
        auto* note = new QLabel(QStringLiteral("Задана переменная окружения ZARVIN_DATABASE (") + env
                + QStringLiteral("): пока она задана, программа работает с её базой данных, а выбранное здесь "
                                 "только сохраняется в настройках."),
            this);
        note->setObjectName(QStringLiteral("environment"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    embedded = new QRadioButton(QStringLiteral("Файл базы данных ") + databaseFilePath(), this);
    embedded->setObjectName(QStringLiteral("embedded"));
    server = new QRadioButton(QStringLiteral("Сервер PostgreSQL"), this);
    server->setObjectName(QStringLiteral("server"));
    layout->addWidget(embedded);
    layout->addWidget(server);
    const QString saved = connectionSettings::savedUrl();
    const Server fields = connectionSettings::serverOf(saved);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Сервер или каталог сокета:"), host = field("host", fields.host));
    form->addRow(QStringLiteral("Порт:"), port = field("port", fields.port));
    port->setValidator(new QIntValidator(1, 65535, port));
    form->addRow(QStringLiteral("База данных:"), database = field("database", fields.database));
    form->addRow(QStringLiteral("Пользователь:"), user = field("user", fields.user));
    form->addRow(QStringLiteral("Пароль (только в ~/.pgpass):"), password = field("password", QString()));
    password->setEchoMode(QLineEdit::Password);
    password->setToolTip(QStringLiteral("Пустой пароль ничего не меняет: его ищут в ~/.pgpass, PGPASSFILE, Kerberos "
                                        "или по имени пользователя системы. Введённый записывается только в файл "
                                        "~/.pgpass с правами 0600."));
    layout->addLayout(form);
    auto* tryIt = new QPushButton(QStringLiteral("Проверить"), this);
    tryIt->setObjectName(QStringLiteral("check"));
    tryIt->setAutoDefault(false);
    layout->addWidget(tryIt);
    result = new QLabel(this);
    result->setObjectName(QStringLiteral("result"));
    result->setWordWrap(true);
    result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(result);
    auto* closing = new QLabel(QStringLiteral("По OK остальные окна программы закроются (несохранённые строки в окнах "
                                              "учёта хостов пропадут), а главное окно откроет выбранную базу данных."),
        this);
    closing->setWordWrap(true);
    layout->addWidget(closing);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    (saved.isEmpty() ? embedded : server)->setChecked(true);
    showChoice();
    connect(server, &QRadioButton::toggled, this, &connectionWindow::showChoice);
    connect(tryIt, &QPushButton::clicked, this, &connectionWindow::check);
    connect(buttons, &QDialogButtonBox::accepted, this, &connectionWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &connectionWindow::reject);
    setMinimumWidth(520);
}

QLineEdit* connectionWindow::field(const char* name, const QString& text)
{
    auto* edit = new QLineEdit(text, this);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

void connectionWindow::showChoice()
{
    for (QWidget* w : std::initializer_list<QWidget*> { host, port, database, user, password })
        w->setEnabled(server->isChecked());
    findChild<QPushButton*>(QStringLiteral("check"))->setEnabled(server->isChecked());
    result->clear();
}

QString connectionWindow::url() const
{
    if (embedded->isChecked())
        return {};
    return connectionSettings::urlOf(
        { host->text().trimmed(), port->text().trimmed(), database->text().trimmed(), user->text().trimmed() },
        connectionSettings::savedUrl());
}

void connectionWindow::check()
{
    result->setText(QStringLiteral("Подключение…"));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Result<QString> tried = connectionSettings::tryServer(url(), password->text());
    QApplication::restoreOverrideCursor();
    result->setText(tried.ok() ? tried.value : tried.errorText);
}

void connectionWindow::accept()
{
    const Server chosen { host->text().trimmed(), port->text().trimmed(), database->text().trimmed(),
        user->text().trimmed() };
    Status saved = connectionSettings::saveUrl(url());
    if (saved.ok() && server->isChecked() && !password->text().isEmpty())
        saved = connectionSettings::storePassword(chosen, password->text());
    if (!saved.ok())
        return messages::error(this, saved.errorText);
    QDialog::accept();
}
