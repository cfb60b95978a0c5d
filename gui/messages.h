#pragma once

#include <QString>

class QWidget;

// Every message box of the program goes through these, over the static QMessageBox calls.
// A null parent gives a box of its own, centred on the screen.
namespace messages {

// A critical box titled "Ошибка": a failed operation, with the database's or the system's text.
void error(QWidget* parent, const QString& text);
void critical(QWidget* parent, const QString& title, const QString& text);
void warning(QWidget* parent, const QString& title, const QString& text);
void information(QWidget* parent, const QString& title, const QString& text);
// Yes/No; true only for Yes. `defaultNo` makes No the button that Enter presses.
bool question(QWidget* parent, const QString& title, const QString& text, bool defaultNo = false);

} // namespace messages
