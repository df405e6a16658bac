# The static Linux self-extractor: g++ against musl's C headers, no C++
# library, linked by musl-gcc.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER musl-gcc)
set(CMAKE_CXX_COMPILER g++)
execute_process(COMMAND gcc -print-file-name=include OUTPUT_VARIABLE TVK_GCC_INCLUDE
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc -isystem /usr/include/x86_64-linux-musl -isystem ${TVK_GCC_INCLUDE} -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections -fdata-sections")
set(CMAKE_CXX_LINK_EXECUTABLE
    "musl-gcc <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s -Wl,--gc-sections")
# Archives of link-time-optimised objects need the plugin's symbol index.
set(CMAKE_AR gcc-ar)
set(CMAKE_RANLIB gcc-ranlib)
