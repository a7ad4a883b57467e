# The manual beside the program, the installed layout and the Debian package.
#
# Installed layout (prefix /usr for the package):
#   lib/vizo/           the program and its three libraries; the program finds
#                       the run-time loaded ones and Manual/ in its own folder
#   lib/vizo/Manual  -> ../../share/vizo/Manual
#   bin/vizo         -> ../lib/vizo/vizo
#   share/vizo/Manual/, share/applications/vizo.desktop, share/icons/hicolor/
#   lib/systemd/user/vizo.service and vizo@.service (one per profile),
#   share/man/man1/vizo.1.gz,
#   share/doc/vizo/{copyright,changelog.gz}

set(VIZO_MANUAL_SOURCE_DIR ${CMAKE_SOURCE_DIR}/res/Manual)
set(VIZO_ICON_SOURCE_DIR ${CMAKE_SOURCE_DIR}/res/icons)

# Help > Contents looks for Manual/Manual.htm beside the program, in the build
# folder as much as in the installed one.
file(GLOB vizo_manual_files CONFIGURE_DEPENDS ${VIZO_MANUAL_SOURCE_DIR}/*)
set(vizo_manual_copies)
foreach(src ${vizo_manual_files})
    get_filename_component(name ${src} NAME)
    set(dst ${CMAKE_BINARY_DIR}/Manual/${name})
    add_custom_command(OUTPUT ${dst}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${src} ${dst}
        DEPENDS ${src}
        COMMENT "Copying manual file ${name}")
    list(APPEND vizo_manual_copies ${dst})
endforeach()
add_custom_target(vizo_manual DEPENDS ${vizo_manual_copies})
add_dependencies(vizo vizo_manual)

set(VIZO_PRIVATE_DIR lib/vizo)

install(TARGETS vizo vizowin vizoinet vizoras
    RUNTIME DESTINATION ${VIZO_PRIVATE_DIR}
    LIBRARY DESTINATION ${VIZO_PRIVATE_DIR})
install(FILES ${vizo_manual_files} DESTINATION share/vizo/Manual)

# Relative links made here and installed as links, so they hold under any
# prefix and inside the package's staging tree alike.
set(vizo_links ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${vizo_links}/bin ${vizo_links}/private)
file(CREATE_LINK ../lib/vizo/vizo ${vizo_links}/bin/vizo SYMBOLIC)
file(CREATE_LINK ../../share/vizo/Manual ${vizo_links}/private/Manual SYMBOLIC)
install(FILES ${vizo_links}/bin/vizo DESTINATION bin)
install(FILES ${vizo_links}/private/Manual DESTINATION ${VIZO_PRIVATE_DIR})

install(FILES ${CMAKE_SOURCE_DIR}/res/vizo.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/res/vizo.png DESTINATION share/icons/hicolor/32x32/apps)
foreach(size 48 64 128 256)
    install(FILES ${VIZO_ICON_SOURCE_DIR}/vizo-${size}.png
        DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME vizo.png)
endforeach()
install(FILES ${VIZO_ICON_SOURCE_DIR}/vizo.svg DESTINATION share/icons/hicolor/scalable/apps)

# Unattended operation: the systemd user unit, the manual page and, for the
# Debian package, the copyright and changelog files Debian expects.
set(VIZO_SERVICE_SOURCE_DIR ${CMAKE_SOURCE_DIR}/res/service)
# Compressed as Debian wants them: maximum compression, no name or time stamp.
set(vizo_gz_files)
foreach(name vizo.1 changelog)
    set(dst ${CMAKE_BINARY_DIR}/service/${name}.gz)
    add_custom_command(OUTPUT ${dst}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/service
        COMMAND gzip -9n -c ${VIZO_SERVICE_SOURCE_DIR}/${name} > ${dst}
        DEPENDS ${VIZO_SERVICE_SOURCE_DIR}/${name}
        COMMENT "Compressing ${name}")
    list(APPEND vizo_gz_files ${dst})
endforeach()
add_custom_target(vizo_service_files ALL DEPENDS ${vizo_gz_files})
install(FILES ${CMAKE_BINARY_DIR}/service/vizo.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_BINARY_DIR}/service/changelog.gz ${VIZO_SERVICE_SOURCE_DIR}/copyright
    DESTINATION share/doc/vizo)
# The unit names the program by its installed path, known only at install
# time (cpack installs under /usr whatever the configured prefix).
install(CODE "
    set(VIZO_BINDIR \"\${CMAKE_INSTALL_PREFIX}/bin\")
    foreach(unit vizo.service vizo@.service)
        configure_file(\"${VIZO_SERVICE_SOURCE_DIR}/\${unit}.in\"
            \"${CMAKE_BINARY_DIR}/service/\${unit}\" @ONLY)
    endforeach()")
install(FILES ${CMAKE_BINARY_DIR}/service/vizo.service ${CMAKE_BINARY_DIR}/service/vizo@.service
    DESTINATION lib/systemd/user)

# Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vizo)
set(CPACK_PACKAGE_VENDOR "Brindlecote")
set(CPACK_PACKAGE_CONTACT "Vizo maintainers <vizo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web camera uploader: timed, captioned pictures published by FTP")
set(CPACK_PACKAGE_DESCRIPTION
    "Vizo grabs a frame from a camera on a schedule, stamps a date and time\n"
    "caption on it, writes it as a JPEG file and publishes it to a web server\n"
    "by FTP, over a LAN or a dial-up connection it brings up for each upload.\n"
    "A web visitor never sees a half-written picture: every file is written\n"
    "under a temporary name and renamed into place.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vizo.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${VIZO_PRIVATE_DIR})
# Loaded by name rather than linked, so the library scan cannot see them: the
# window system plug-in and the caption font that "Arial" resolves to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2")
# Dial-up runs through NetworkManager profiles; a LAN needs nothing more.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "network-manager")
set(CPACK_POST_BUILD_SCRIPTS ${VIZO_SERVICE_SOURCE_DIR}/strip-ldconfig.cmake)
include(CPack)
