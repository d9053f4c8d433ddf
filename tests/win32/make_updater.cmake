# From an update folder to a running updater: qk2.exe makes an updater from
# the base image, and the updater made is run under Wine and played through
# with the end-to-end harness's windows (tests/win32/e2e/harness.h). Needs
# an X display and the Wine prefix of the run, like updater_e2e.
if(NOT TARGET qk2)
  return()
endif()
add_executable(qk2_e2e
  ${CMAKE_CURRENT_LIST_DIR}/make_updater/make_updater_cases.cpp
  ${CMAKE_CURRENT_LIST_DIR}/e2e/harness.cpp
  ${CMAKE_SOURCE_DIR}/tests/tools/qk2_run.cpp
  ${CMAKE_SOURCE_DIR}/tests/tools/update_folder.cpp)
target_include_directories(qk2_e2e PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}
  ${CMAKE_SOURCE_DIR}/tests/tools)
target_compile_definitions(qk2_e2e PRIVATE _WIN32_WINNT=0x0601 WINVER=0x0601
  QK2_TOOL="$<TARGET_FILE:qk2>" QK2_FIXTURE_IMAGE="")
target_link_libraries(qk2_e2e PRIVATE packer platform_tools GTest::gtest)

# A patch update (1.00 to 1.01 of one file), made by the host qk2 at build
# time: the Windows qk2 has no patch maker.
set(PATCH_FIXTURE ${CMAKE_CURRENT_BINARY_DIR}/patch-fixture)
set(PATCH_UPDATER ${PATCH_FIXTURE}/PatchUpdate.exe)
add_custom_command(OUTPUT ${PATCH_UPDATER}
  COMMAND ${CMAKE_COMMAND} -DOUT=${PATCH_FIXTURE} -P ${CMAKE_CURRENT_LIST_DIR}/make_updater/patch_fixture.cmake
  COMMAND ${HOST_QK2} make-updater ${PATCH_FIXTURE}/update -o ${PATCH_UPDATER} -q
          --base $<TARGET_FILE:${UPDATER_BASE_TARGET}> --patch-from ${PATCH_FIXTURE}/old
  DEPENDS host_tools ${UPDATER_BASE_TARGET} ${CMAKE_CURRENT_LIST_DIR}/make_updater/patch_fixture.cmake
  COMMENT "Making the patch update for the end-to-end run")
add_custom_target(patch_fixture DEPENDS ${PATCH_UPDATER})
add_dependencies(qk2_e2e patch_fixture)
target_compile_definitions(qk2_e2e PRIVATE PATCH_FIXTURE="${PATCH_FIXTURE}")
updater_warnings(qk2_e2e)
add_dependencies(qk2_e2e qk2 ${UPDATER_BASE_TARGET})

# Run alone: the display is shared with the harness's own cases.
# logged-run.sh keeps Wine's background processes off ctest's pipe.
add_test(NAME qk2_make_updater_e2e
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e/logged-run.sh
                 ${CMAKE_CURRENT_BINARY_DIR}/qk2_make_updater_e2e.log
                 ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:qk2_e2e>
                 --updater=$<TARGET_FILE:${UPDATER_BASE_TARGET}>
                 --work=${CMAKE_CURRENT_BINARY_DIR}/qk2-e2e-work)
set_tests_properties(qk2_make_updater_e2e PROPERTIES LABELS e2e TIMEOUT 180 RUN_SERIAL TRUE)
