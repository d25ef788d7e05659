# corvane-cli runs where there is no display: it loads neither Qt's widget library nor its GUI
# library. Run as
#   cmake -DPROGRAM=<corvane-cli> [-DOBJDUMP=<objdump>] -P cli_libraries.cmake
# A Linux program is read with ldd (every library it loads, also through others), a Windows one
# with objdump (the DLLs it imports).
cmake_minimum_required(VERSION 3.16)

if(PROGRAM MATCHES "\\.exe$")
  execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE listed
                  ERROR_VARIABLE problem)
  string(REGEX MATCHALL "DLL Name: [^\n]+" libraries "${listed}")
  list(TRANSFORM libraries REPLACE "^DLL Name: " "")
else()
  execute_process(COMMAND ldd ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE listed
                  ERROR_VARIABLE problem)
  # One library a line, its name first.
  string(REGEX MATCHALL "[^\n]+" lines "${listed}")
  set(libraries)
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^[\t ]*([^\t ]+)" name "${line}")
    list(APPEND libraries "${CMAKE_MATCH_1}")
  endforeach()
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot list the libraries of ${PROGRAM}: ${problem}")
endif()
# Without Qt's core library in the list it was not read as it should be.
if(NOT libraries MATCHES "Qt5Core")
  message(FATAL_ERROR "no Qt5Core among the libraries of ${PROGRAM}:\n${listed}")
endif()
foreach(library IN LISTS libraries)
  if(library MATCHES "Qt5(Widgets|Gui)")
    message(FATAL_ERROR "${PROGRAM} loads ${library}:\n${listed}")
  endif()
endforeach()
string(REPLACE ";" ", " libraries "${libraries}")
message("${PROGRAM} loads ${libraries}")
