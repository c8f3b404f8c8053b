# Import libraries for the kernel driver. mingw-w64 ships none for portcls.sys, and the ones it
# ships for the other kernel modules follow its own export lists; the driver links against
# libraries generated with dlltool from the .def files in kernel_imports/, which name exactly the
# entry points the driver calls. Adding a call to a new kernel export means adding its name there.

set(QUEN_KERNEL_IMPORTS_DIR ${CMAKE_CURRENT_LIST_DIR}/kernel_imports)

if(NOT CMAKE_DLLTOOL)
  message(FATAL_ERROR "The Windows build needs dlltool (set CMAKE_DLLTOOL, as the toolchain file does)")
endif()

# quen_kernel_import_libraries(<target> <module>...)
# Creates the INTERFACE library <target> that links the import libraries generated from
# kernel_imports/<module>.def, and builds them as part of the default build so that a broken
# .def file shows at once.
function(quen_kernel_import_libraries target)
  set(libraries)
  foreach(module IN LISTS ARGN)
    set(def ${QUEN_KERNEL_IMPORTS_DIR}/${module}.def)
    set(library ${CMAKE_BINARY_DIR}/kernel_imports/lib${module}.a)
    add_custom_command(
      OUTPUT ${library}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/kernel_imports
      COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --output-lib ${library}
      DEPENDS ${def}
      COMMENT "Generating the kernel import library for ${module}"
      VERBATIM)
    list(APPEND libraries ${library})
  endforeach()
  add_custom_target(${target}_generate ALL DEPENDS ${libraries})
  add_library(${target} INTERFACE)
  target_link_libraries(${target} INTERFACE ${libraries})
  add_dependencies(${target} ${target}_generate)
endfunction()
