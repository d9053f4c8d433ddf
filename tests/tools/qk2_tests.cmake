# qk2's tests: the tool run as a program (qk2.exe under Wine on the win32
# build) on update folders, packages and images that the tests make. The
# base image for make-updater is the resource editor's test image with a
# second wizard dialog added, so these need the pe_fixture images.
if(NOT TARGET qk2)
  return()
endif()

file(GLOB QK2_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
# The tests quote command lines as the tool does, with the tool's own code.
add_executable(qk2_tests ${QK2_TEST_SOURCES})
target_include_directories(qk2_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(qk2_tests PRIVATE test_support platform_tools GTest::gtest_main)
target_compile_definitions(qk2_tests PRIVATE
  QK2_TOOL="$<TARGET_FILE:qk2>"
  QK2_FIXTURE_IMAGE="${CMAKE_CURRENT_BINARY_DIR}/pe_fixture/relocs.exe")
updater_warnings(qk2_tests)
add_dependencies(qk2_tests qk2)
if(TARGET pe_fixtures)
  add_dependencies(qk2_tests pe_fixtures)
endif()
add_test(NAME qk2_tests COMMAND qk2_tests)
set_tests_properties(qk2_tests PROPERTIES TIMEOUT 300)
