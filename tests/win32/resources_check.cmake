# Checks of the built base Updater.exe: dialog templates, manifest, version
# block and image header, read back through the Windows resource functions.
add_executable(updater_resources_check ${CMAKE_CURRENT_LIST_DIR}/resources_check.cpp)
target_include_directories(updater_resources_check PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(updater_resources_check PRIVATE GTest::gtest version)
updater_warnings(updater_resources_check)
add_dependencies(updater_resources_check ${UPDATER_BASE_TARGET})
# e2e/logged-run.sh keeps Wine's background processes off ctest's pipe.
add_test(NAME updater_resources
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e/logged-run.sh
                 ${CMAKE_CURRENT_BINARY_DIR}/updater_resources.log
                 ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:updater_resources_check>
                 --updater=$<TARGET_FILE:${UPDATER_BASE_TARGET}>)
set_tests_properties(updater_resources PROPERTIES LABELS win32 TIMEOUT 120)
