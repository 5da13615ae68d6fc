# Shared part of the MinGW-w64 toolchain files; PW_MINGW_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)
find_program(CMAKE_C_COMPILER NAMES ${PW_MINGW_TRIPLE}-gcc-posix)
find_program(CMAKE_CXX_COMPILER NAMES ${PW_MINGW_TRIPLE}-g++-posix)
find_program(CMAKE_RC_COMPILER NAMES ${PW_MINGW_TRIPLE}-windres)
if(NOT CMAKE_C_COMPILER OR NOT CMAKE_CXX_COMPILER OR NOT CMAKE_RC_COMPILER)
  message(FATAL_ERROR "The ${PW_MINGW_TRIPLE} -posix compilers are missing: run ./dev test, or install "
                      "g++-mingw-w64-x86-64-posix and g++-mingw-w64-i686-posix.")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${PW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
