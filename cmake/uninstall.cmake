# Removes the files listed in install_manifest.txt (run in the build folder, as root when the
# install was). The data directory is not in the list: the database stays.
if(NOT EXISTS install_manifest.txt)
    message(FATAL_ERROR "install_manifest.txt not found: nothing was installed from this build folder")
endif()
file(STRINGS install_manifest.txt files)
foreach(file ${files})
    set(path "$ENV{DESTDIR}${file}")
    if(EXISTS "${path}" OR IS_SYMLINK "${path}")
        message(STATUS "Removing: ${path}")
        file(REMOVE "${path}")
    endif()
endforeach()
message(STATUS "Kept: ${ZARVIN_DATA_DIR} (the database and settings) and the group zarvin")
