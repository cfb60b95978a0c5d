#include "calc/calculateSubnetsWindow.h"

calculateSubnetsWindow::calculateSubnetsWindow(const std::optional<QString>&, QWidget* parent) : QDialog(parent) {}
