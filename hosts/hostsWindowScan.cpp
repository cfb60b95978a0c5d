// Filling the host table from a scan of the window subnet.
#include "hosts/hostsWindow.h"

void hostsWindow::scanWindow() {}
