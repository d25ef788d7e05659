# corvane_windows_version(TARGET DESCRIPTION [ICON]): gives a Windows program the version
# resource that Explorer's file properties and "Apps & features" show (product name, version,
# description), and with ICON the tool's icon as icon group IDI_ICON1. corvane-tool takes its
# icon from resources/app.rc instead, which Qt reads for the window.
include_guard(GLOBAL)

function(corvane_windows_version target description)
  cmake_parse_arguments(arg "ICON" "" "" ${ARGN})
  set(CORVANE_RC_NAME ${target})
  set(CORVANE_RC_DESCRIPTION "${description}")
  # Four numbers, as Windows wants them.
  string(REPLACE "." ";" parts "${PROJECT_VERSION}")
  list(LENGTH parts count)
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  list(SUBLIST parts 0 4 parts)
  string(REPLACE ";" "," CORVANE_RC_VERSION "${parts}")
  set(CORVANE_RC_ICON "")
  if(arg_ICON)
    set(CORVANE_RC_ICON "IDI_ICON1 ICON \"${PROJECT_SOURCE_DIR}/resources/app.ico\"")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
