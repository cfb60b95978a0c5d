// Placed first on the core library's include path: every QtGui header includes this one.
#error "The core library is widget-free: keep QtGui out of it"
