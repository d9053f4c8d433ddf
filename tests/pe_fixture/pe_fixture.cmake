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

# The test resources, compiled by `windres` into `object`.
function(pe_fixture_resources windres object)
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pe_fixture_out}
    COMMAND ${windres} -I ${pe_fixture_src} ${pe_fixture_src}/fixture.rc -O coff -o ${object}
    WORKING_DIRECTORY ${pe_fixture_src}
    DEPENDS ${pe_fixture_src}/fixture.rc ${pe_fixture_src}/fixture.manifest
    COMMENT "Compiling the resource editor's test resources ${object}")
endfunction()

# The image `name`.exe, linked by `cc` with the entry symbol `entry` and the
# further linker arguments after them; a resource object among them is a
# dependency.
function(pe_fixture_image cc entry name)
  set(exe ${pe_fixture_out}/${name}.exe)
  set(objects ${ARGN})
  list(FILTER objects INCLUDE REGEX "\\.res\\.o$")
  add_custom_command(
    OUTPUT ${exe}
    COMMAND ${cc} -nostdlib -Wl,-e,${entry} -Wl,--subsystem,windows -Wl,--no-insert-timestamp
            ${pe_fixture_src}/fixture.c ${ARGN} -o ${exe}
    DEPENDS ${pe_fixture_src}/fixture.c ${objects}
    COMMENT "Linking the resource editor's test image ${name}.exe")
  set(pe_fixture_outputs ${pe_fixture_outputs} ${exe} PARENT_SCOPE)
endfunction()

set(resources ${pe_fixture_out}/fixture.res.o)
pe_fixture_resources(${PE_FIXTURE_WINDRES} ${resources})
set(pe_fixture_outputs)
set(relocs -s -Wl,--dynamicbase,--build-id)
pe_fixture_image(${PE_FIXTURE_CC} _start relocs ${relocs} ${resources})
pe_fixture_image(${PE_FIXTURE_CC} _start last -s -Wl,--disable-dynamicbase,--disable-reloc-section
                 ${resources})
pe_fixture_image(${PE_FIXTURE_CC} _start debug -g ${resources})
pe_fixture_image(${PE_FIXTURE_CC} _start bare -s)
add_custom_target(pe_fixtures DEPENDS ${pe_fixture_outputs})
add_dependencies(updater_tests pe_fixtures)
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/test_pe_resources.cpp APPEND PROPERTY
             COMPILE_DEFINITIONS PE_FIXTURE_DIR="${pe_fixture_out}")

# The same "relocs" image for 64-bit Windows (PE32+), when the x86_64 tools
# are there too. Its entry symbol has no leading underscore.
find_program(PE_FIXTURE_CC64 NAMES x86_64-w64-mingw32-gcc x86_64-w64-mingw32-gcc-posix)
find_program(PE_FIXTURE_WINDRES64 NAMES x86_64-w64-mingw32-windres)
if(NOT PE_FIXTURE_CC64 OR NOT PE_FIXTURE_WINDRES64)
  return()
endif()
set(resources64 ${pe_fixture_out}/fixture64.res.o)
pe_fixture_resources(${PE_FIXTURE_WINDRES64} ${resources64})
set(pe_fixture_outputs)
pe_fixture_image(${PE_FIXTURE_CC64} start relocs64 ${relocs} ${resources64})
add_custom_target(pe_fixtures64 DEPENDS ${pe_fixture_outputs})
add_dependencies(updater_tests pe_fixtures64)
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/test_pe_resources.cpp APPEND PROPERTY
             COMPILE_DEFINITIONS PE_FIXTURE_64)
