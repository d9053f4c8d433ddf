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

# qk2 with every file call of its own code counted, and the one numbered by
# QK2_FAULT_AT failing: the same sources linked with each call wrapped
# (-Wl,--wrap), for the fault-point tests only. The shipped qk2 is built
# without any of it.
if(NOT WIN32)
  add_executable(qk2_faults ${QK2_SOURCES} ${CMAKE_CURRENT_LIST_DIR}/faults/qk2_fault_points.cpp)
  target_link_libraries(qk2_faults PRIVATE packer platform_tools updater_core ${UPDATER_TOOL_PLATFORM})
  get_target_property(QK2_DEFINITIONS qk2 COMPILE_DEFINITIONS)
  if(QK2_DEFINITIONS)
    target_compile_definitions(qk2_faults PRIVATE ${QK2_DEFINITIONS})
  endif()
  set(QK2_WRAPPED open read write close fsync fchmod futimens rename unlink mkostemp mkdir stat
      lstat fstat mmap)
  list(TRANSFORM QK2_WRAPPED PREPEND "-Wl,--wrap=")
  target_link_options(qk2_faults PRIVATE ${QK2_WRAPPED})
  updater_warnings(qk2_faults)

  add_executable(qk2_fault_tests ${CMAKE_CURRENT_LIST_DIR}/faults/test_qk2_faults.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qk2_run.cpp ${CMAKE_CURRENT_LIST_DIR}/update_folder.cpp)
  target_include_directories(qk2_fault_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(qk2_fault_tests PRIVATE test_support platform_tools GTest::gtest_main)
  target_compile_definitions(qk2_fault_tests PRIVATE
    QK2_TOOL="$<TARGET_FILE:qk2>"
    QK2_FAULTS_TOOL="$<TARGET_FILE:qk2_faults>"
    QK2_FIXTURE_IMAGE="${CMAKE_CURRENT_BINARY_DIR}/pe_fixture/relocs.exe")
  updater_warnings(qk2_fault_tests)
  add_dependencies(qk2_fault_tests qk2 qk2_faults)
  if(TARGET pe_fixtures)
    add_dependencies(qk2_fault_tests pe_fixtures)
  endif()
  add_test(NAME qk2_fault_points COMMAND qk2_fault_tests)
endif()
