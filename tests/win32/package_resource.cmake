# A test program that carries a package packed at build time as resource
# "UPDATE" 102, as an updater does, and reads it through the updater's own
# resource lookup.
set(PACKAGE_INPUTS ${CMAKE_CURRENT_SOURCE_DIR}/package_resource/UPDATE.INI
                   ${CMAKE_CURRENT_SOURCE_DIR}/package_resource/DATA.BIN)
set(PACKAGE_FILE ${CMAKE_CURRENT_BINARY_DIR}/package_resource.pkg)
add_custom_command(OUTPUT ${PACKAGE_FILE}
  COMMAND ${HOST_QK2} pack ${PACKAGE_FILE} ${PACKAGE_INPUTS}
  DEPENDS host_tools ${PACKAGE_INPUTS}
  COMMENT "Packing the package resource test's package")
set(PACKAGE_RC ${CMAKE_CURRENT_BINARY_DIR}/package_resource.rc)
file(CONFIGURE OUTPUT ${PACKAGE_RC} CONTENT "LANGUAGE 0, 0\n102 UPDATE \"${PACKAGE_FILE}\"\n")
set_source_files_properties(${PACKAGE_RC} PROPERTIES OBJECT_DEPENDS ${PACKAGE_FILE})

add_executable(package_resource_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/package_resource/package_resource_tests.cpp ${PACKAGE_RC})
target_link_libraries(package_resource_tests PRIVATE test_support GTest::gtest_main)
target_compile_definitions(package_resource_tests PRIVATE
  "PACKAGE_INPUTS_DIR=\"${CMAKE_CURRENT_SOURCE_DIR}/package_resource\"")
updater_warnings(package_resource_tests)
add_test(NAME package_resource_tests COMMAND package_resource_tests)
