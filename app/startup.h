#pragma once

#include "db/sqlResult.h"

#include <memory>

class QApplication;
class QSettings;
class QWidget;
class ZarvinWindow;

// Creates the application object. Where Qt finds no display to work on it would abort; the
// program says so in Russian on standard error instead and exits with status 1.
std::unique_ptr<QApplication> createApplication(int& argc, char** argv);

// Builds the main window, not yet shown, with its database open; on a database this user cannot
// change, its status line says why and how to get write access. Fails, with the text to show,
// when the database cannot be opened.
Result<ZarvinWindow*> createMainWindow();

// Opens and shows the first window of a run: the main window once the agreement is
// accepted, the agreement window before. Fails, with the line to print, when the main
// window's database cannot be opened.
Result<QWidget*> openFirstWindow(QSettings& install);

// A start-up failure: written to standard error and shown in a critical box (started from the
// menu there is no terminal); returns the exit status 1.
int reportStartFailure(const QString& text);

// The whole start-up after the application object exists; the process exit status. A start-up
// failure is shown in a critical box, written to standard error, and ends the run with 1.
int runApplication(QSettings& install);
