# The end-to-end driver: builds updaters from the base image for each case
# and runs them under Wine, playing the user through their windows. Needs an
# X display (tools/test.sh starts Xvfb) and the Wine prefix of the run.
file(GLOB E2E_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/e2e/*.cpp)
add_executable(updater_e2e ${E2E_SOURCES})
target_include_directories(updater_e2e PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR})
target_compile_definitions(updater_e2e PRIVATE _WIN32_WINNT=0x0601 WINVER=0x0601)
target_link_libraries(updater_e2e PRIVATE packer GTest::gtest)
updater_warnings(updater_e2e)
add_dependencies(updater_e2e ${UPDATER_BASE_TARGET})

# All cases in one ctest, run alone: they share the registry key of the test
# game, the display and the drives. run.sh makes the CD-ROM drives P: and Q:
# (on folders below e2e-drives) and the full drive Y:, then keeps Wine's
# background processes off ctest's pipe (logged-run.sh).
add_test(NAME updater_e2e
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e/run.sh
                 ${CMAKE_CURRENT_BINARY_DIR}/updater_e2e.log
                 ${CMAKE_CURRENT_BINARY_DIR}/e2e-drives
                 ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:updater_e2e>
                 --updater=$<TARGET_FILE:${UPDATER_BASE_TARGET}>
                 --work=${CMAKE_CURRENT_BINARY_DIR}/e2e-work
                 --drives=${CMAKE_CURRENT_BINARY_DIR}/e2e-drives)
set_tests_properties(updater_e2e PROPERTIES LABELS e2e TIMEOUT 300 RUN_SERIAL TRUE)
