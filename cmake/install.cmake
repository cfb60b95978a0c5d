# Install rules. Everything follows GNUInstallDirs (so --prefix and DESTDIR staging work) except
# the two paths the program itself looks for: its data directory and its window icon.
include(GNUInstallDirs)
set(ZARVIN_DATA_DIR /usr/share/zarvin/subnets)
set(ZARVIN_ICON_DIR /usr/share/icons/hicolor/256x256/apps)

install(TARGETS zarvin-subnets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/zarvin-kelmora-gui DESTINATION ${ZARVIN_ICON_DIR})
# The same image once more under the name that icon themes (and the menu entry) look up.
install(FILES resources/zarvin-kelmora-gui DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
    RENAME zarvin-subnets.png)
install(FILES resources/zarvin-subnets.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/ru.zarvin.subnets.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian wants the manual page and the changelog compressed, reproducibly (-n: no time stamp).
foreach(source resources/zarvin-subnets.1 packaging/debian/changelog)
    get_filename_component(name ${source} NAME)
    set(compressed ${CMAKE_BINARY_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND sh -c "gzip -9n -c '${CMAKE_SOURCE_DIR}/${source}' > '${compressed}'"
        DEPENDS ${source} VERBATIM)
    list(APPEND ZARVIN_COMPRESSED ${compressed})
endforeach()
add_custom_target(compressed-docs ALL DEPENDS ${ZARVIN_COMPRESSED})
install(FILES ${CMAKE_BINARY_DIR}/zarvin-subnets.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/debian/copyright ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(CODE "set(ZARVIN_DATA_DIR \"${ZARVIN_DATA_DIR}\")
set(ZARVIN_POSTINST \"${CMAKE_SOURCE_DIR}/packaging/debian/postinst\")")
install(SCRIPT cmake/installDataDir.cmake)

# Removes what `cmake --install` wrote (install_manifest.txt); the data directory and the group stay.
add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DZARVIN_DATA_DIR=${ZARVIN_DATA_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/uninstall.cmake
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM)
