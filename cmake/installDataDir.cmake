# The shared data directory: group zarvin, mode 2775 (setgid, so every file made there takes the
# group). Into a staging folder (DESTDIR, as CPack does) it is only created with its mode; the
# package's postinst gives it the group on the target machine. Installed for real by root, the
# package's own postinst runs here too, so both ways set the directory up alike.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
    set(staged "$ENV{DESTDIR}${ZARVIN_DATA_DIR}")
    message(STATUS "Installing: ${staged}")
    file(MAKE_DIRECTORY "${staged}")
    execute_process(COMMAND chmod 2775 "${staged}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "chmod 2775 ${staged} failed")
    endif()
else()
    execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(uid STREQUAL "0")
        message(STATUS "Setting up: ${ZARVIN_DATA_DIR} (group zarvin, mode 2775)")
        execute_process(COMMAND sh "${ZARVIN_POSTINST}" configure RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "setting up ${ZARVIN_DATA_DIR} failed")
        endif()
    else()
        message(WARNING "Not root: ${ZARVIN_DATA_DIR} was not set up; install as root (sudo) "
                        "or keep the data elsewhere with ZARVIN_SUBNETS_DIR.")
    endif()
endif()
