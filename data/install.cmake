# What `cmake --install` puts under the prefix, and the .deb that
# scripts/package makes of it with CPack.
include(GNUInstallDirs)

set(data ${PROJECT_SOURCE_DIR}/data)
set(packaged ${PROJECT_BINARY_DIR}/packaged)
file(MAKE_DIRECTORY ${packaged})

# Manual pages and the changelog go compressed, without a time stamp.
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${data}/boxsweeper.1 ${data}/debian/changelog ${PROJECT_SOURCE_DIR}/LICENSE)
execute_process(COMMAND gzip -9n -c ${data}/boxsweeper.1 OUTPUT_FILE ${packaged}/boxsweeper.1.gz
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND gzip -9n -c ${data}/debian/changelog OUTPUT_FILE ${packaged}/changelog.gz
                COMMAND_ERROR_IS_FATAL ANY)

# The Debian copyright file: the licence text of LICENSE in the
# machine-readable form (continuation lines indented, empty ones as " .").
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(STRIP "${license}" license)
string(REGEX REPLACE "\n\n" "\n.\n" license "${license}")
string(REGEX REPLACE "\n" "\n " license "${license}")
file(WRITE ${packaged}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: Boxsweeper\n\n"
     "Files: *\n"
     "Copyright: 2026 Boxsweeper developers\n"
     "License: Expat\n"
     " ${license}\n")

set(docdir ${CMAKE_INSTALL_DATADIR}/doc/boxsweeper)
install(TARGETS boxsweeper RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${data}/jp.kirabo.Boxsweeper.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${data}/jp.kirabo.Boxsweeper.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${data}/icons/jp.kirabo.Boxsweeper.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${data}/icons/hicolor/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${packaged}/boxsweeper.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaged}/copyright ${packaged}/changelog.gz DESTINATION ${docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME boxsweeper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Boxsweeper developers <boxsweeper@kirabo.jp>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "POP3 mailbox cleaner for Japanese mail
Boxsweeper lists a POP3 mailbox with each message's date, subject and
sender, Japanese text decoded, and deletes the selected messages on the
server or reads one in full, without downloading the mailbox. It keeps
several accounts, logs in with USER/PASS or APOP, over SSL/TLS or STARTTLS,
and sends a short plain-text mail over SMTP.")
include(CPack)
