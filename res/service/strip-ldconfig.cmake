# Run by CPack after the Debian package is built. CPack adds postinst and
# postrm scripts that only run ldconfig whenever a library sits below
# /usr/lib, but ours are private (found beside the program, not through the
# linker's cache), so those scripts are needless: take them out again.
find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    if(NOT deb MATCHES "\\.deb$")
        continue()
    endif()
    set(tree "${CPACK_TEMPORARY_DIRECTORY}/strip-ldconfig")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND ${DPKG_DEB} -R "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
    foreach(script postinst postrm)
        set(path "${tree}/DEBIAN/${script}")
        if(EXISTS "${path}")
            file(STRINGS "${path}" lines)
            list(FILTER lines EXCLUDE REGEX "^#!|^[ \t]*$|ldconfig|^if \\[ |^[ \t]*(set -e|fi|exit 0)[ \t]*$")
            if(lines STREQUAL "")
                file(REMOVE "${path}")
            endif()
        endif()
    endforeach()
    execute_process(COMMAND ${DPKG_DEB} --root-owner-group -b "${tree}" "${deb}"
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
endforeach()
