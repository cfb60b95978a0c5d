// Placed first on the core library's include path: every QtWidgets header includes this one.
#error "The core library is widget-free: keep QtWidgets out of it"
