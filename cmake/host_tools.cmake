# A native qk2 for the cross build: packages that a Windows test program
# carries as resources are packed while that program is built, and the
# Windows qk2.exe could only run there under Wine. HOST_QK2 names it.
include(ExternalProject)
set(HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
ExternalProject_Add(host_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${HOST_TOOLS_DIR}
  CMAKE_ARGS -DUPDATER_TOOLS_ONLY=ON -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${HOST_TOOLS_DIR} --target qk2
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${HOST_TOOLS_DIR}/qk2)
set(HOST_QK2 ${HOST_TOOLS_DIR}/qk2)
