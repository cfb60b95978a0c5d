#pragma once

#include <QString>

class QSettings;
class QWidget;

// Opens and shows the first window of a run: the main window once the agreement is
// accepted, the agreement window before. Returns nullptr with `error` set when the
// main window's database cannot be opened.
QWidget* openFirstWindow(QSettings& install, QString* error);

// The whole start-up after the application object exists; the process exit status.
int runApplication(QSettings& install);
