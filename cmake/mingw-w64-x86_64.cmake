# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads), used by
# scripts/windows/build.sh:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCORVANE_WIN_QT=<Qt built by scripts/windows/qt.sh>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVANE_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVANE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVANE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVANE_MINGW}-windres)

if(NOT CORVANE_WIN_QT AND DEFINED ENV{CORVANE_WIN_QT})
  set(CORVANE_WIN_QT $ENV{CORVANE_WIN_QT})
endif()
if(NOT CORVANE_WIN_QT)
  message(FATAL_ERROR "Set CORVANE_WIN_QT to the Windows Qt prefix (scripts/windows/qt.sh prints it)")
endif()
# Try-compiles run with their own copy of the toolchain; these reach them too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CORVANE_WIN_QT CORVANE_WIN_BOOST)

# Libraries, headers and CMake packages come from the Windows Qt and the mingw sysroot only;
# programs (moc, rcc, uic from that Qt, lrelease) run on this machine.
set(CMAKE_FIND_ROOT_PATH ${CORVANE_WIN_QT} /usr/${CORVANE_MINGW})
set(CMAKE_PREFIX_PATH ${CORVANE_WIN_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Catalogues are platform-neutral: the machine's own lrelease compiles them.
set(Qt5LinguistTools_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools CACHE PATH "")

# Boost is header-only here (Beast, Asio). Its headers are reached through a folder that holds
# nothing but boost/, so that the machine's glibc headers in /usr/include stay out of sight.
if(NOT CORVANE_WIN_BOOST)
  set(CORVANE_WIN_BOOST ${CMAKE_BINARY_DIR}/boost-include)
endif()
if(NOT EXISTS ${CORVANE_WIN_BOOST}/boost)
  file(MAKE_DIRECTORY ${CORVANE_WIN_BOOST})
  file(CREATE_LINK /usr/include/boost ${CORVANE_WIN_BOOST}/boost SYMBOLIC)
endif()
set(Boost_INCLUDE_DIR ${CORVANE_WIN_BOOST} CACHE PATH "")
set(Boost_NO_BOOST_CMAKE ON CACHE BOOL "")

# Tests built here run under wine64, their QtTest report passed back through a file.
get_filename_component(CORVANE_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANE_SOURCE_ROOT}/scripts/windows/wine-test)
