# 32-bit Windows: the programs users get.
set(TVK_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
