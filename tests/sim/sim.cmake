# The simulation of what Linux lacks (see sim.h), for test programs only:
# they link it after updater_core in place of the POSIX layer. The pure
# parts of the POSIX layer (formatting, cp932 text, the INI reader) serve it
# as they are.
file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_library(platform_sim STATIC ${SIM_SOURCES}
  ${CMAKE_SOURCE_DIR}/platform/format_posix.cpp
  ${CMAKE_SOURCE_DIR}/platform/text_posix.cpp
  ${CMAKE_SOURCE_DIR}/platform/ini_posix.cpp)
add_dependencies(platform_sim updater_texts)
target_include_directories(platform_sim PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests
  ${GENERATED_DIR})
updater_warnings(platform_sim)
