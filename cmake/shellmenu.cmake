# The Windows shell extension as an external project of the native build.
find_program(TK_MINGW_CXX x86_64-w64-mingw32-g++-posix)
if(NOT TK_MINGW_CXX)
  message(STATUS "mingw-w64 not found: tkshellmenu.dll is not built")
  return()
endif()

include(ExternalProject)
set(TK_SHELLMENU_BUILD ${CMAKE_BINARY_DIR}/shellmenu)
set(TK_SHELLMENU_LAUNCHER)
if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(TK_SHELLMENU_LAUNCHER -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER})
endif()
ExternalProject_Add(tkshellmenu_windows
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/shellmenu
  BINARY_DIR ${TK_SHELLMENU_BUILD}
  PREFIX ${CMAKE_BINARY_DIR}/shellmenu-ep
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
    -DCMAKE_BUILD_TYPE=Release
    ${TK_SHELLMENU_LAUNCHER}
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")

# One run under Wine is enough: the sanitizer build leaves it out.
find_program(TK_WINE wine)
if(TK_BUILD_TESTS AND TK_WINE AND NOT TK_SANITIZE)
  add_test(NAME tkshellmenu_wine
    COMMAND bash ${CMAKE_SOURCE_DIR}/shellmenu/tests/run-under-wine.sh
            ${TK_SHELLMENU_BUILD}/bin ${CMAKE_BINARY_DIR}/wineprefix)
  set_tests_properties(tkshellmenu_wine PROPERTIES
    RESOURCE_LOCK wine
    TIMEOUT 300)
endif()
