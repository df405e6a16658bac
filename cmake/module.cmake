# The self-extractor's own code (platform, crypto, codec, archive, host) is
# built without the C++ library, exceptions or RTTI in every configuration,
# so that nothing creeps in that the small static programs cannot carry.
set(TVK_MODULE_FLAGS -nostdinc++ -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -Werror=restrict -Werror=array-bounds -Werror=stringop-overflow)
# The programs carry no unwinder, so no unwind tables; unused functions are
# dropped at link time.
if(WIN32 OR TVK_SFX_ONLY)
  list(APPEND TVK_MODULE_FLAGS -fno-asynchronous-unwind-tables -fno-unwind-tables
       -ffunction-sections)
  # The PE linker script places ".bss.*" sections as initialised data, so
  # zeroed tables would take room in the file: no data sections there.
  if(NOT WIN32)
    list(APPEND TVK_MODULE_FLAGS -fdata-sections)
  endif()
  # Optimised as one program, the module loses the copies of small helpers
  # every file kept and the calls across layers that inlining removes.
  if(CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
    list(APPEND TVK_MODULE_FLAGS -flto)
  endif()
endif()

function(tvk_module_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE ${TVK_MODULE_FLAGS})
endfunction()

# Collects the sources of a module folder and its platform backend.
function(tvk_glob_sources out)
  file(GLOB common CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(WIN32)
    file(GLOB backend CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/*.cpp)
  else()
    file(GLOB backend CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/posix/*.cpp)
  endif()
  set(${out} ${common} ${backend} PARENT_SCOPE)
endfunction()

# Loops that measurably run faster when built for speed keep that in the
# programs made for size (the audio decoder: a quarter faster; the LZ loop,
# once its state lives in registers: 4 to 5%, for 4 KB); the rest of the
# program stays small.
function(tvk_hot_sources)
  if(CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
    set_source_files_properties(${ARGN} DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                                PROPERTIES COMPILE_OPTIONS -O2)
  endif()
endfunction()
