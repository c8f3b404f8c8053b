# Windows build: the product sources compiled against mingw-w64's Windows headers, without
# platform/ (apart from the stand-in for the WDK's stdunk.lib, below). For every deliverable it
# builds
#   <deliverable>_header_check  the deliverable's platform header on its own, with the Windows x64
#                               sizes the deliverable relies on (cmake/header_checks/),
#   <deliverable>_objects       the deliverable's sources, once it has any,
# and the linked module once it can link: quen_asio.dll, quen_asiocpl.exe, zelaudiocoinst.dll
# and norvane_quen_audio.sys. As in the host build, a deliverable's sources include paths from
# its own folder ("quen_driver_platform.h", "usb/usb_cl.h"), and from kslib/ where the KS client
# library is built in.

include(${CMAKE_CURRENT_LIST_DIR}/KernelImports.cmake)

set(QUEN_NTDDI_VERSION 0x0A000000) # Windows 10
set(QUEN_WIN32_WINNT 0x0A00)
set(QUEN_HEADER_CHECKS_DIR ${CMAKE_CURRENT_LIST_DIR}/header_checks)

find_path(QUEN_WDK_INCLUDE_DIR ntddk.h PATH_SUFFIXES ddk REQUIRED
          DOC "mingw-w64's kernel-mode headers")

# Every module names the system libraries it imports from; nothing comes by default.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

add_library(quen_windows_common INTERFACE)
target_compile_options(quen_windows_common INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(quen_windows_common INTERFACE
  NTDDI_VERSION=${QUEN_NTDDI_VERSION} _WIN32_WINNT=${QUEN_WIN32_WINNT} WINVER=${QUEN_WIN32_WINNT})

# Kernel mode: the WDK headers, and no C++ run time (no exceptions, RTTI or guarded statics).
# Objects are deleted through the unsized operator delete of <stdunk.h> (the sized one belongs to
# the C++ run time), and a new-expression checks for NULL before constructing, since the pool
# operator new of <stdunk.h> returns NULL when the pool has no memory.
# Kernel stacks are resident, so large frames need no stack probes (the probe routine is written
# for user stacks that grow on demand).
add_library(quen_windows_kernel INTERFACE)
target_link_libraries(quen_windows_kernel INTERFACE quen_windows_common)
target_include_directories(quen_windows_kernel SYSTEM INTERFACE ${QUEN_WDK_INCLUDE_DIR})
target_compile_definitions(quen_windows_kernel INTERFACE _AMD64_ _KERNEL_MODE)
target_compile_options(quen_windows_kernel INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
  $<$<COMPILE_LANGUAGE:CXX>:-fno-sized-deallocation -fcheck-new>
  -fno-stack-protector -mno-stack-arg-probe)

# User mode: Unicode Win32, and the GCC run time linked in, so that each module depends on
# system DLLs only.
add_library(quen_windows_user INTERFACE)
target_link_libraries(quen_windows_user INTERFACE quen_windows_common)
target_compile_definitions(quen_windows_user INTERFACE UNICODE _UNICODE NOMINMAX)
target_link_options(quen_windows_user INTERFACE -static)

# quen_windows_deliverable(<name> <KERNEL|USER> [<built-in folder>...])
# Builds <name>_header_check and, when the folder <name>/ holds sources, <name>_objects, with
# <name>/ and the built-in folders on the include path. Sets <name>_SOURCES in the caller to the
# sources found.
function(quen_windows_deliverable name mode)
  string(TOLOWER ${mode} kind)
  add_library(quen_windows_${name}_settings INTERFACE)
  target_link_libraries(quen_windows_${name}_settings INTERFACE quen_windows_${kind})
  foreach(folder IN ITEMS ${name} ${ARGN})
    target_include_directories(quen_windows_${name}_settings INTERFACE
      ${CMAKE_SOURCE_DIR}/${folder})
  endforeach()

  add_library(${name}_header_check OBJECT ${QUEN_HEADER_CHECKS_DIR}/${name}_header_check.cpp)
  target_link_libraries(${name}_header_check PRIVATE quen_windows_${name}_settings)

  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${name}/*.cpp)
  if(sources)
    add_library(${name}_objects OBJECT ${sources})
    target_link_libraries(${name}_objects PUBLIC quen_windows_${name}_settings)
  endif()
  set(${name}_SOURCES ${sources} PARENT_SCOPE)
endfunction()

# quen_defines_entry_point(<out> <entry> <file>...)
# Sets <out> to TRUE when one of the files defines <entry>. A program or driver links only once
# its entry point is written; until then its objects are still compiled. The files are
# configure dependencies, so writing the entry point into an existing file is noticed too.
function(quen_defines_entry_point out entry)
  set(found FALSE)
  foreach(file IN LISTS ARGN)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    file(STRINGS ${file} definitions REGEX "(^|[ \t*])${entry}[ \t]*\\(")
    if(definitions)
      set(found TRUE)
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

quen_windows_deliverable(driver KERNEL)
quen_windows_deliverable(kslib USER)
quen_windows_deliverable(asio USER kslib)
quen_windows_deliverable(panel USER kslib asio)
quen_windows_deliverable(coinst USER)

quen_kernel_import_libraries(quen_kernel_imports ntoskrnl hal portcls ks usbd)

# The WDK's stdunk.lib (CUnknown, declared in <stdunk.h>): mingw-w64 ships the header but not the
# library, so the driver links a stand-in built from the one file of platform/ that serves both
# builds; it uses kernel interfaces only.
add_library(quen_windows_stdunk STATIC ${CMAKE_SOURCE_DIR}/platform/portcls/stdunk.cpp)
target_link_libraries(quen_windows_stdunk PRIVATE quen_windows_driver_settings)

# norvane_quen_audio.sys: a native-subsystem image entered at DriverEntry that imports from the
# kernel modules only and exports nothing (the linker would otherwise export every global).
# libgcc supplies the compiler's helper routines; ksguid and uuid the KS and null GUIDs as plain
# data (static libraries without imports, as the WDK's ksguid.lib).
quen_defines_entry_point(QUEN_DRIVER_HAS_ENTRY DriverEntry ${driver_SOURCES})
if(QUEN_DRIVER_HAS_ENTRY)
  add_library(norvane_quen_audio SHARED $<TARGET_OBJECTS:driver_objects>)
  target_link_libraries(norvane_quen_audio PRIVATE
    quen_windows_kernel quen_windows_stdunk quen_kernel_imports ksguid uuid gcc)
  set_target_properties(norvane_quen_audio PROPERTIES PREFIX "" SUFFIX ".sys")
  target_link_options(norvane_quen_audio PRIVATE
    -nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry -Wl,--exclude-all-symbols
    -Wl,--image-base,0x140000000 -Wl,--dynamicbase -Wl,--nxcompat)
endif()

# The KS client library is built into the ASIO driver and the control panel.
set(QUEN_KSLIB_OBJECTS)
if(kslib_SOURCES)
  set(QUEN_KSLIB_OBJECTS $<TARGET_OBJECTS:kslib_objects>)
endif()
set(QUEN_KSLIB_SYSTEM_LIBRARIES kernel32 advapi32 setupapi ksuser ksguid)

# quen_asio.dll: the in-process COM server. Its exports come from a .def file in asio/.
if(asio_SOURCES)
  file(GLOB QUEN_ASIO_EXPORTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/asio/*.def)
  add_library(quen_asio SHARED
    $<TARGET_OBJECTS:asio_objects> ${QUEN_KSLIB_OBJECTS} ${QUEN_ASIO_EXPORTS})
  target_link_libraries(quen_asio PRIVATE quen_windows_user ${QUEN_KSLIB_SYSTEM_LIBRARIES}
    ole32 uuid avrt winmm user32)
  set_target_properties(quen_asio PROPERTIES PREFIX "")
endif()

# quen_asiocpl.exe: the control panel, a GUI program entered at wWinMain, with its dialog
# resource. It carries the settings routines it shares with the ASIO driver.
quen_defines_entry_point(QUEN_PANEL_HAS_ENTRY wWinMain ${panel_SOURCES})
if(QUEN_PANEL_HAS_ENTRY)
  enable_language(RC)
  add_library(panel_shared_settings OBJECT ${CMAKE_SOURCE_DIR}/asio/asio_settings.cpp)
  target_link_libraries(panel_shared_settings PRIVATE quen_windows_panel_settings)
  file(GLOB_RECURSE QUEN_PANEL_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/panel/*.rc)
  add_executable(quen_asiocpl WIN32 $<TARGET_OBJECTS:panel_objects>
    $<TARGET_OBJECTS:panel_shared_settings> ${QUEN_KSLIB_OBJECTS} ${QUEN_PANEL_RESOURCES})
  target_link_libraries(quen_asiocpl PRIVATE quen_windows_user ${QUEN_KSLIB_SYSTEM_LIBRARIES}
    ole32 uuid user32 gdi32 comctl32)
  target_link_options(quen_asiocpl PRIVATE -municode)
endif()

# zelaudiocoinst.dll: the co-installer. Its export comes from a .def file in coinst/.
if(coinst_SOURCES)
  file(GLOB QUEN_COINST_EXPORTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/coinst/*.def)
  add_library(norvane_quen_audio_coinst SHARED
    $<TARGET_OBJECTS:coinst_objects> ${QUEN_COINST_EXPORTS})
  target_link_libraries(norvane_quen_audio_coinst PRIVATE quen_windows_user
    kernel32 advapi32 setupapi)
  set_target_properties(norvane_quen_audio_coinst PROPERTIES PREFIX "" OUTPUT_NAME zelaudiocoinst)
endif()

# Programs for the checks under Wine (tests/wine): an ASIO host, a caller of the co-installer and
# a probe for the control panel's window.
foreach(program IN ITEMS asio_host coinst_host panel_probe)
  add_executable(wine_${program} ${CMAKE_SOURCE_DIR}/tests/wine/${program}.cpp)
  target_link_libraries(wine_${program} PRIVATE quen_windows_user kernel32 user32 advapi32 ole32
    uuid)
endforeach()
target_include_directories(wine_asio_host PRIVATE ${CMAKE_SOURCE_DIR}/asio)
