# quen_host_module(<target> DEF <file.def> SOURCES <source>... [INCLUDES <dir>...])
#
# A user-mode module (a DLL on Windows) built for the host: a shared library the simulated
# loader copies into each process that loads it. Like the DLL it stands for, it exports only the
# names its .def file lists (plus DllMain, which the loader calls), through a version script made
# from the .def. It is compiled against the user-mode host headers only and links nothing: the
# Win32 entry points it calls are bound at load time to the program that runs the simulated
# machine (which exports them).
function(quen_host_module target)
  cmake_parse_arguments(ARG "" "DEF" "SOURCES;INCLUDES" ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_DEF})
  file(STRINGS ${ARG_DEF} lines)
  set(exports "DllMain;")
  set(in_exports FALSE)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE ";.*$" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    elseif(line MATCHES "^EXPORTS$")
      set(in_exports TRUE)
    elseif(line MATCHES "^(LIBRARY|NAME|DESCRIPTION)( |$)")
      set(in_exports FALSE)
    elseif(in_exports)
      string(REGEX MATCH "^[A-Za-z_][A-Za-z0-9_]*" name "${line}")
      string(APPEND exports "${name};")
    endif()
  endforeach()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports)
  file(WRITE ${script} "{\n  global: ${exports}\n  local: *;\n};\n")

  add_library(${target} SHARED ${ARG_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/include
                                               ${ARG_INCLUDES})
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX)
  target_link_libraries(${target} PRIVATE quen_warnings)
  target_link_options(${target} PRIVATE -Wl,--version-script=${script})
  set_target_properties(${target} PROPERTIES PREFIX "" LINK_DEPENDS ${script})
endfunction()
