# The Windows build as shipped (scripts/windows.sh): the downloader is a window
# program (no console window opens when the file manager starts it), both
# programs carry a version block, and the install rules lay out the portable
# folder: the programs, the shell extension, the Qt libraries and plugins they
# load, the compiler's runtime libraries and usage.txt, all in one folder, as
# the installer (packaging/windows/installer.nsi) then puts them into Program Files.
set_target_properties(Tk650Downloader PROPERTIES WIN32_EXECUTABLE ON)

set(TK_WINDOWS ${CMAKE_SOURCE_DIR}/packaging/windows)
function(tk_version_resource target description icon)
  set(TK_RC_NAME ${target})
  set(TK_RC_DESCRIPTION ${description})
  set(TK_RC_ICON "")
  if(icon)
    set(TK_RC_ICON "1 ICON \"${icon}\"")
  endif()
  configure_file(${TK_WINDOWS}/program.rc.in ${CMAKE_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/${target}.rc)
endfunction()
tk_version_resource(Tk650Downloader "Puts packages and files onto Tk650 terminals"
                    ${TK_WINDOWS}/tk650downloader.ico)
tk_version_resource(tk650push "Pushes one file to many Tk650 terminals" "")

install(TARGETS Tk650Downloader tk650push RUNTIME DESTINATION .)
# The shell extension's import library is of no use to anyone: left out.
install(TARGETS tkshellmenu RUNTIME DESTINATION . ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/docs/usage.txt DESTINATION .)

foreach(module Core Gui Widgets Network)
  install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
endforeach()
# The plugins the programs load: the Windows platform and its native style.
# Pictures are PNG only, which Qt reads without a plugin.
foreach(plugin platforms:QWindowsIntegrationPlugin styles:QWindowsVistaStylePlugin)
  string(REPLACE ":" ";" plugin ${plugin})
  list(GET plugin 0 folder)
  list(GET plugin 1 target)
  if(NOT TARGET Qt6::${target})
    message(FATAL_ERROR "Qt for Windows lacks the plugin ${target}")
  endif()
  install(FILES $<TARGET_FILE:Qt6::${target}> DESTINATION ${folder})
endforeach()

# The compiler's runtime libraries, from Debian's mingw-w64 packages.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${dll} not found beside ${CMAKE_CXX_COMPILER}")
  endif()
  file(REAL_PATH "${path}" path)
  install(FILES ${path} DESTINATION .)
endforeach()

# The runtime libraries from Debian's packages carry their symbols (libstdc++-6.dll
# is 24 MB with them): `cmake --install --strip` strips every library it installed.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    file(GLOB_RECURSE tk_dlls \"\${CMAKE_INSTALL_PREFIX}/*.dll\")
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \${tk_dlls} COMMAND_ERROR_IS_FATAL ANY)
  endif()")

# The version the installer and the zip are named after.
file(WRITE ${CMAKE_BINARY_DIR}/version.txt "${PROJECT_VERSION}\n")
