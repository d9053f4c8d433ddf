# Small PE32 images with resources, built with the mingw-w64 tools on either
# build, for the resource editor's tests (test_pe_resources.cpp). Each
# variant has the section layout of one way the editor places resources:
#   relocs  resources followed by the base relocations (as Updater.exe),
#           and a debug directory (a build id)
#   last    resources as the last section
#   debug   not stripped: debug sections after the resources, symbols after all
#   bare    no resources at all
# Without the tools (a host without mingw-w64) the tests skip these images.
find_program(PE_FIXTURE_CC NAMES i686-w64-mingw32-gcc i686-w64-mingw32-gcc-posix)
find_program(PE_FIXTURE_WINDRES NAMES i686-w64-mingw32-windres)
if(NOT PE_FIXTURE_CC OR NOT PE_FIXTURE_WINDRES)
  message(STATUS "No i686-w64-mingw32 gcc and windres: the resource editor's tests on built images will skip")
  return()
endif()

set(pe_fixture_src ${CMAKE_CURRENT_LIST_DIR})
set(pe_fixture_out ${CMAKE_CURRENT_BINARY_DIR}/pe_fixture)
add_custom_command(
  OUTPUT ${pe_fixture_out}/fixture.res.o
  COMMAND ${CMAKE_COMMAND} -E make_directory ${pe_fixture_out}
  COMMAND ${PE_FIXTURE_WINDRES} -I ${pe_fixture_src} ${pe_fixture_src}/fixture.rc
          -O coff -o ${pe_fixture_out}/fixture.res.o
  WORKING_DIRECTORY ${pe_fixture_src}
  DEPENDS ${pe_fixture_src}/fixture.rc ${pe_fixture_src}/fixture.manifest
  COMMENT "Compiling the resource editor's test resources")

set(pe_fixture_link ${PE_FIXTURE_CC} -nostdlib -Wl,-e,_start -Wl,--subsystem,windows
    -Wl,--no-insert-timestamp ${pe_fixture_src}/fixture.c)
set(pe_fixture_outputs)
foreach(variant relocs last debug bare)
  if(variant STREQUAL "relocs")
    set(extra -s -Wl,--dynamicbase,--build-id ${pe_fixture_out}/fixture.res.o)
  elseif(variant STREQUAL "last")
    set(extra -s -Wl,--disable-dynamicbase,--disable-reloc-section ${pe_fixture_out}/fixture.res.o)
  elseif(variant STREQUAL "debug")
    set(extra -g ${pe_fixture_out}/fixture.res.o)
  else()
    set(extra -s)
  endif()
  set(exe ${pe_fixture_out}/${variant}.exe)
  add_custom_command(
    OUTPUT ${exe}
    COMMAND ${pe_fixture_link} ${extra} -o ${exe}
    DEPENDS ${pe_fixture_src}/fixture.c ${pe_fixture_out}/fixture.res.o
    COMMENT "Linking the resource editor's test image ${variant}.exe")
  list(APPEND pe_fixture_outputs ${exe})
endforeach()
add_custom_target(pe_fixtures DEPENDS ${pe_fixture_outputs})
add_dependencies(updater_tests pe_fixtures)
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/test_pe_resources.cpp APPEND PROPERTY
             COMPILE_DEFINITIONS PE_FIXTURE_DIR="${pe_fixture_out}")

# The same "relocs" image for 64-bit Windows (PE32+), when the x86_64 tools
# are there too.
find_program(PE_FIXTURE_CC64 NAMES x86_64-w64-mingw32-gcc x86_64-w64-mingw32-gcc-posix)
find_program(PE_FIXTURE_WINDRES64 NAMES x86_64-w64-mingw32-windres)
if(NOT PE_FIXTURE_CC64 OR NOT PE_FIXTURE_WINDRES64)
  return()
endif()
add_custom_command(
  OUTPUT ${pe_fixture_out}/fixture64.res.o
  COMMAND ${CMAKE_COMMAND} -E make_directory ${pe_fixture_out}
  COMMAND ${PE_FIXTURE_WINDRES64} -I ${pe_fixture_src} ${pe_fixture_src}/fixture.rc
          -O coff -o ${pe_fixture_out}/fixture64.res.o
  WORKING_DIRECTORY ${pe_fixture_src}
  DEPENDS ${pe_fixture_src}/fixture.rc ${pe_fixture_src}/fixture.manifest
  COMMENT "Compiling the resource editor's 64-bit test resources")
add_custom_command(
  OUTPUT ${pe_fixture_out}/relocs64.exe
  COMMAND ${PE_FIXTURE_CC64} -nostdlib -Wl,-e,start -Wl,--subsystem,windows -Wl,--no-insert-timestamp
          ${pe_fixture_src}/fixture.c -s -Wl,--dynamicbase,--build-id ${pe_fixture_out}/fixture64.res.o
          -o ${pe_fixture_out}/relocs64.exe
  DEPENDS ${pe_fixture_src}/fixture.c ${pe_fixture_out}/fixture64.res.o
  COMMENT "Linking the resource editor's test image relocs64.exe")
add_custom_target(pe_fixtures64 DEPENDS ${pe_fixture_out}/relocs64.exe)
add_dependencies(updater_tests pe_fixtures64)
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/test_pe_resources.cpp APPEND PROPERTY
             COMPILE_DEFINITIONS PE_FIXTURE_64)
