# 64-bit Windows: a test build of the same sources, for machines that cannot
# run 32-bit programs (and so not the 32-bit Wine).
set(TVK_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
