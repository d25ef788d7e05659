# Reads the includes of every product file and fails on one that points up or sideways against
# the layers, or that does not name its folder. Run as
#   cmake -DSOURCE_DIR=<source root> -P include_layers.cmake
# Generated headers (ui_*.h of the forms, *.moc) are the build's and carry no folder.
cmake_minimum_required(VERSION 3.16)

# What each product folder may include besides its own headers (and Qt, Boost, the system).
# Dependencies point down only; nothing includes app/ or cli/.
set(layers json discovery command protocol maintenance messages dialogs cli app)
set(uses_json "")
set(uses_discovery json)
set(uses_command json)
set(uses_protocol command discovery json)
set(uses_maintenance protocol command discovery json)
set(uses_messages "")
set(uses_dialogs protocol messages json)
set(uses_cli maintenance protocol discovery command json)
set(uses_app dialogs messages maintenance protocol discovery command json)
# Folders of the root that hold no product code.
set(not_product bench cmake docs fuzz resources scripts tests tools)

if(NOT IS_DIRECTORY "${SOURCE_DIR}")
  message(FATAL_ERROR "SOURCE_DIR '${SOURCE_DIR}' is not a folder")
endif()

set(faults 0)
macro(fault text)
  message("${text}")
  math(EXPR faults "${faults} + 1")
endmacro()

# A folder with sources that is in no layer would escape the check.
file(GLOB entries RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${SOURCE_DIR}/${entry}" AND NOT entry MATCHES "^(\\.|build)"
     AND NOT entry IN_LIST layers AND NOT entry IN_LIST not_product)
    file(GLOB_RECURSE stray "${SOURCE_DIR}/${entry}/*.h" "${SOURCE_DIR}/${entry}/*.cpp")
    if(stray)
      fault("${entry}/: a folder of sources in no layer")
    endif()
  endif()
endforeach()

set(files_read 0)
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${layer}/*.h"
       "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(source IN LISTS sources)
    math(EXPR files_read "${files_read} + 1")
    file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
      string(REGEX MATCH "[<\"]([^>\"]+)[>\"]" bracketed "${line}")
      set(path "${CMAKE_MATCH_1}")
      string(SUBSTRING "${bracketed}" 0 1 opening)
      string(REGEX MATCH "^[^/]+" top "${path}")
      if(path MATCHES "^ui_[a-z_]+\\.h$" OR path MATCHES "\\.moc$")
        continue()
      endif()
      if(NOT path MATCHES "/")
        if(opening STREQUAL "\"")
          fault("${source}: \"${path}\" names no folder")
        endif()
        continue()
      endif()
      if(NOT top IN_LIST layers)
        if(opening STREQUAL "\"" AND NOT EXISTS "${SOURCE_DIR}/${path}")
          fault("${source}: \"${path}\" is no header of the project")
        endif()
        continue()
      endif()
      if(NOT top STREQUAL layer AND NOT top IN_LIST uses_${layer})
        string(REPLACE ";" ", " allowed "${uses_${layer}}")
        fault("${source}: includes ${path}; ${layer}/ may use ${allowed}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults GREATER 0)
  message(FATAL_ERROR "${faults} includes break the layers (${files_read} files read)")
endif()
message("the includes of ${files_read} product files keep to the layers")
