# Cross toolchain: 32-bit Windows (for 32-bit hosts); its tests cannot run under a 64-bit-only Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
set(WIDL_TARGET_FLAGS --win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
