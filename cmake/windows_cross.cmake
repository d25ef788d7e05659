# Facts of a Windows cross build that the tests and the packing need: the folders holding the
# DLLs the programs load (the Windows Qt's, then the MinGW runtime's). Included by the top
# CMakeLists.txt when cross-building for Windows.
set(CORVANE_WIN_DLL_DIRS ${CORVANE_WIN_QT}/bin)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
  endif()
  get_filename_component(dir "${path}" DIRECTORY)
  get_filename_component(dir "${dir}" REALPATH)
  list(APPEND CORVANE_WIN_DLL_DIRS ${dir})
endforeach()
list(REMOVE_DUPLICATES CORVANE_WIN_DLL_DIRS)
# scripts/windows/pack.sh reads this list back from the cache.
set(CORVANE_WIN_DLL_DIRS "${CORVANE_WIN_DLL_DIRS}" CACHE INTERNAL "")
