# Facts of a Windows cross build that the tests and the packing need: the folders holding the
# DLLs the programs load (the Windows Qt's, then the MinGW runtime's). Included by the top
# CMakeLists.txt when cross-building for Windows.
set(CORVANE_WIN_DLL_DIRS ${CORVANE_WIN_QT}/bin)
set(runtime_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
  endif()
  get_filename_component(path "${path}" REALPATH)
  get_filename_component(dir "${path}" DIRECTORY)
  list(APPEND CORVANE_WIN_DLL_DIRS ${dir})
  list(APPEND runtime_dlls ${path})
endforeach()
list(REMOVE_DUPLICATES CORVANE_WIN_DLL_DIRS)
# scripts/windows/pack.sh reads this list back from the cache.
set(CORVANE_WIN_DLL_DIRS "${CORVANE_WIN_DLL_DIRS}" CACHE INTERNAL "")

# The programs of this build land in one folder, beside links to the DLLs they load and to
# the platform and style plugins, laid out as in the zip: so they run under wine as they run
# from the unpacked zip on Windows. The GIF reader is there for the resource test only (the
# program never shows its busy animation).
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
foreach(folder platforms styles imageformats)
  file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${folder})
endforeach()
file(GLOB qt_dlls ${CORVANE_WIN_QT}/bin/*.dll)
foreach(path IN LISTS qt_dlls runtime_dlls)
  get_filename_component(name "${path}" NAME)
  file(CREATE_LINK "${path}" "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name}" SYMBOLIC)
endforeach()
foreach(plugin platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qgif.dll)
  file(CREATE_LINK "${CORVANE_WIN_QT}/plugins/${plugin}" "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${plugin}"
       SYMBOLIC)
endforeach()
