# Windows x86 with MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PW_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
