# Installation layout and the Debian package (cpack -G DEB):
#   /usr/bin/tavio-assistant            launcher: per-user working folder, then the program
#   /usr/lib/tavio/                     the program and the local (demo) services
#   /usr/share/tavio/protoFiles/        protocol schemas, copied into the working folder
#   /etc/tavio/GlobalConfig.json        system configuration (a conffile), seeded per user
#   /usr/share/applications, icons      desktop menu entry and the hicolor icons
set(TAVIO_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TAVIO_PACKAGE_NAME tavio-assistant)

install(TARGETS VozedIvazerida tavio-localservices RUNTIME DESTINATION lib/tavio)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/protoFiles DESTINATION share/tavio)
install(PROGRAMS ${TAVIO_PACKAGING_DIR}/tavio-assistant DESTINATION bin)
install(FILES ${TAVIO_PACKAGING_DIR}/GlobalConfig.json DESTINATION /etc/tavio)
install(FILES ${TAVIO_PACKAGING_DIR}/tavio-assistant.desktop DESTINATION share/applications)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/hicolor DESTINATION share/icons)

# Debian wants the copyright and a compressed changelog in the package's documentation folder,
# and a compressed manual page for each program on PATH.
configure_file(${TAVIO_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
configure_file(${TAVIO_PACKAGING_DIR}/tavio-assistant.1 ${CMAKE_BINARY_DIR}/packaging/tavio-assistant.1 COPYONLY)
set(TAVIO_COMPRESSED_DOCS)
foreach(doc changelog tavio-assistant.1)
    set(out ${CMAKE_BINARY_DIR}/packaging/${doc}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/packaging/${doc} > ${out}
        DEPENDS ${CMAKE_BINARY_DIR}/packaging/${doc})
    list(APPEND TAVIO_COMPRESSED_DOCS ${out})
endforeach()
add_custom_target(tavio_package_docs ALL DEPENDS ${TAVIO_COMPRESSED_DOCS})
install(FILES ${TAVIO_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DESTINATION share/doc/${TAVIO_PACKAGE_NAME})
install(FILES ${CMAKE_BINARY_DIR}/packaging/tavio-assistant.1.gz DESTINATION share/man/man1)

# Everything under /etc is a conffile: an administrator's edits survive upgrades.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "/etc/tavio/GlobalConfig.json\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TAVIO_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavio")
set(CPACK_PACKAGE_CONTACT "Tavio maintainers <maintainers@tavio.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PC assistant for hosts of Tavio voice rooms")
set(CPACK_PACKAGE_DESCRIPTION "Log in on the PC with the Tavio account, choose a recording device,\n\
set the capture volume and push the PC's audio into the voice room that you\n\
sit in on the phone.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Stripped programs; their debug information goes into the -dbgsym package, where the crash
# handler's symbol reader finds it by build id.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# Loaded by the SDK layer at run time (capture, encoding, muxing, RTMP), so no linker sees them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-libav, gstreamer1.0-pulseaudio")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
