# 32-bit Windows: the product.
set(UPDATER_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
