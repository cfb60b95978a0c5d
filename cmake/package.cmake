# The Debian package: `cmake --build <build> --target package` (or cpack -G DEB in the build
# folder) writes zarvin-subnets_<version>_<arch>.deb. Everything is staged through DESTDIR, so
# the fixed paths of the data directory and the icon land inside the package, not on this machine.
set(ZARVIN_MAINTAINER "Zarvin Subnets developers <subnets@zarvin.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME zarvin-subnets)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZARVIN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "IPv4 address plan of an organisation (Зарвин: адресный план организации)")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries come from the binary (dpkg-shlibdeps); what it runs or loads at run time is named here:
# ping for ICMP scans, Qt's SQLite driver, adduser for the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, iputils-ping, libqt5sql5-sqlite, libqt5sql5-psql")
# Russian captions of Qt's own buttons; fping for the fast ICMP scans.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qttranslations5-l10n, fping")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A desktop program with a Russian interface (Qt 5 Widgets) that keeps an
organisation's IPv4 address plan: a tree of the organisation and its branches,
each bound to a CIDR subnet, and for every subnet a list of hosts with notes.
It finds live hosts by ICMP or by a TCP connection to one port and has an IPv4
subnet calculator.
.
All data lives in one SQLite file under /usr/share/zarvin/subnets/, shared by
the members of the system group zarvin.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
