# Installing on Linux: the program with a lower-case command name beside it,
# the fleet push program, the simulator, the help text, man pages, the menu
# entry with its icon and the file-manager actions; and the Debian package made from that by CPack
# (scripts/package.sh). Test programs, benchmarks and fake tools are not installed.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(TK_LINUX ${CMAKE_SOURCE_DIR}/packaging/linux)
set(TK_STAGE ${CMAKE_BINARY_DIR}/install-stage)
set(TK_DATA ${CMAKE_INSTALL_DATADIR}/tk650downloader) # the program finds it as ../share/tk650downloader

install(TARGETS Tk650Downloader tk650push tk650sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
file(MAKE_DIRECTORY ${TK_STAGE})
file(CREATE_LINK Tk650Downloader ${TK_STAGE}/tk650downloader SYMBOLIC)
install(FILES ${TK_STAGE}/tk650downloader DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/usage.txt DESTINATION ${TK_DATA})

# Man pages, compressed without a time stamp so the package is reproducible.
find_program(TK_GZIP gzip REQUIRED)
set(TK_MAN_OUT)
foreach(page tk650downloader tk650push tk650sim)
  configure_file(${TK_LINUX}/${page}.1 ${TK_STAGE}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${TK_STAGE}/${page}.1.gz
    COMMAND ${TK_GZIP} -9nf -k ${TK_STAGE}/${page}.1
    DEPENDS ${TK_STAGE}/${page}.1 VERBATIM)
  list(APPEND TK_MAN_OUT ${TK_STAGE}/${page}.1.gz)
endforeach()
add_custom_target(tk650_manpages ALL DEPENDS ${TK_MAN_OUT})
file(CREATE_LINK tk650downloader.1.gz ${TK_STAGE}/Tk650Downloader.1.gz SYMBOLIC)
install(FILES ${TK_MAN_OUT} ${TK_STAGE}/Tk650Downloader.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Menu entry, icon, file-manager actions.
install(FILES ${TK_LINUX}/tk650downloader.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TK_LINUX}/icons/tk650downloader.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${TK_LINUX}/icons/tk650downloader-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tk650downloader.png)
endforeach()
install(FILES ${TK_LINUX}/tk650downloader-servicemenu.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus)
install(FILES ${TK_LINUX}/tk650downloader-network.nemo_action
              ${TK_LINUX}/tk650downloader-serial.nemo_action
        DESTINATION ${CMAKE_INSTALL_DATADIR}/nemo/actions)

# Debian's documentation files: copyright, and the changelog of a native package.
add_custom_command(OUTPUT ${TK_STAGE}/changelog.gz
  COMMAND ${TK_GZIP} -9nc ${TK_LINUX}/changelog > ${TK_STAGE}/changelog.gz
  DEPENDS ${TK_LINUX}/changelog)
add_custom_target(tk650_changelog ALL DEPENDS ${TK_STAGE}/changelog.gz)
install(FILES ${TK_LINUX}/copyright ${TK_STAGE}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tk650downloader)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tk650downloader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Tk650Downloader developers <tk650downloader@quillon.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "puts packages and files onto Tk650 payment terminals")
# The extended description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tk650Downloader sends a package or a single file to a Tk650 payment terminal,
over the network to the terminal's download daemon or over a serial line
through the maker's serial download tool. It runs with a window or fully
unattended from its command line, reporting the result in its exit code.

The package also holds tk650push, which pushes one file to many terminals
at once for deployment jobs, tk650sim, a simulated terminal for trying it out,
a menu entry, and file-manager actions (Dolphin, Nemo, and the menu entry's
own actions) that open the program on a chosen file.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tk650downloader_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
