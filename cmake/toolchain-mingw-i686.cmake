# Cross-compiling for Windows with the posix thread model of mingw-w64
# (std::thread and std::mutex are available), linked statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(NV_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${NV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NV_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${NV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
