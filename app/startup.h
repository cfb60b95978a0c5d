#pragma once

#include "db/sqlResult.h"

class QSettings;
class QWidget;

// Opens and shows the first window of a run: the main window once the agreement is
// accepted, the agreement window before. Fails, with the line to print, when the main
// window's database cannot be opened.
Result<QWidget*> openFirstWindow(QSettings& install);

// The whole start-up after the application object exists; the process exit status.
int runApplication(QSettings& install);
