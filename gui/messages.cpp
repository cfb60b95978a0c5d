#include "gui/messages.h"

#include <QMessageBox>

namespace messages {

void error(QWidget* parent, const QString& text)
{
    critical(parent, QStringLiteral("Ошибка"), text);
}

void critical(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::critical(parent, title, text);
}

void warning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text);
}

void information(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::information(parent, title, text);
}

bool question(QWidget* parent, const QString& title, const QString& text, bool defaultNo)
{
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    const auto initial = defaultNo ? QMessageBox::No : QMessageBox::NoButton;
    return QMessageBox::question(parent, title, text, buttons, initial) == QMessageBox::Yes;
}

} // namespace messages
