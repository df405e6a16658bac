# Windows with mingw-w64 for the processor the including toolchain file
# names (TVK_MINGW_PROCESSOR: i686 or x86_64); tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TVK_MINGW_PROCESSOR})
set(TVK_MINGW_TRIPLE ${TVK_MINGW_PROCESSOR}-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex.
set(CMAKE_C_COMPILER ${TVK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TVK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TVK_MINGW_TRIPLE}-windres)
# Archives of link-time-optimised objects need the plugin's symbol index.
set(CMAKE_AR ${TVK_MINGW_TRIPLE}-gcc-ar-posix)
set(CMAKE_RANLIB ${TVK_MINGW_TRIPLE}-gcc-ranlib-posix)
set(CMAKE_FIND_ROOT_PATH /usr/${TVK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# Test programs carry their runtime, so Wine needs no DLLs of the toolchain.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
