# Cross toolchain: 64-bit Windows, posix thread model (GoogleTest needs std::mutex).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(WIDL_TARGET_FLAGS --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
