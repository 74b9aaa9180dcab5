# The extension: its logic as one static library per build (kardivelle_core), which the
# tests link directly, and the shipped artefact around it (the DLL or the bundle).
file(GLOB KV_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/entry/*.cpp ${CMAKE_SOURCE_DIR}/src/host/*.cpp ${CMAKE_SOURCE_DIR}/src/record/*.cpp
  ${CMAKE_SOURCE_DIR}/src/twain/*.cpp
  ${CMAKE_SOURCE_DIR}/src/caps/*.cpp ${CMAKE_SOURCE_DIR}/src/image/*.cpp ${CMAKE_SOURCE_DIR}/src/transfer/*.cpp
  ${CMAKE_SOURCE_DIR}/src/pages/*.cpp ${CMAKE_SOURCE_DIR}/src/scan/*.cpp ${CMAKE_SOURCE_DIR}/src/options/*.cpp
  ${CMAKE_SOURCE_DIR}/src/platform/${KV_PLATFORM}/*.cpp)
list(FILTER KV_CORE_SOURCES EXCLUDE REGEX ".*/export_[^/]*\\.cpp$")
# The sRGB profile of an archival PDF's output intent (image/srgb_profile.h): Debian's
# icc-profiles-free sRGB.icc as a byte array in a source of its own, made when the tree is
# configured (and again when the file changes).
set(KV_SRGB_PROFILE /usr/share/color/icc/sRGB.icc)
if(NOT EXISTS ${KV_SRGB_PROFILE})
  message(FATAL_ERROR "${KV_SRGB_PROFILE} is missing: run tools/setup.sh (icc-profiles-free)")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KV_SRGB_PROFILE})
file(READ ${KV_SRGB_PROFILE} kv_profile_hex HEX)
string(LENGTH "${kv_profile_hex}" kv_profile_digits)
math(EXPR kv_profile_bytes "${kv_profile_digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," kv_profile_array "${kv_profile_hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" kv_profile_array "${kv_profile_array}")
file(WRITE ${KV_OUT}/generated/srgb_profile.cpp.in
"// Generated from ${KV_SRGB_PROFILE} (cmake/extension.cmake).
#include \"image/srgb_profile.h\"

const uint8_t kSrgbProfile[] = {
${kv_profile_array}};
const size_t kSrgbProfileBytes = ${kv_profile_bytes};
static_assert(sizeof kSrgbProfile == ${kv_profile_bytes}, \"the whole profile\");
")
configure_file(${KV_OUT}/generated/srgb_profile.cpp.in ${KV_OUT}/generated/srgb_profile.cpp COPYONLY)
list(APPEND KV_CORE_SOURCES ${KV_OUT}/generated/srgb_profile.cpp)
add_library(kardivelle_core STATIC ${KV_CORE_SOURCES})
# zlib compresses a PDF's lossless images: the Mac system's libz (here Debian's i386 zlib
# stands for it), on Windows Debian's mingw zlib linked in statically.
if(KV_MACOS)
  find_library(KV_ZLIB z PATHS /usr/lib/i386-linux-gnu NO_DEFAULT_PATH)
else()
  find_library(KV_ZLIB libz.a)
endif()
if(NOT KV_ZLIB)
  message(FATAL_ERROR "zlib for the ${KV_PLATFORM} build is missing: run tools/setup.sh")
endif()
target_link_libraries(kardivelle_core PUBLIC ${KV_ZLIB})
if(KV_MACOS)
  # The bundle exports what its export list names, and nothing else, whatever the build type:
  # the extension's code is compiled hidden, inline functions too (without inlining, a Debug
  # build would leave the standard library's template instances out of line and visible), and
  # the bundle is linked with the list (a version script, the ELF form of an exported-symbols
  # list).
  set(KV_BUNDLE_EXPORTS ${CMAKE_SOURCE_DIR}/src/platform/macos/Kardivelle.exports)
  target_compile_options(kardivelle_core PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
  target_link_libraries(kardivelle_core PUBLIC kv_carbon kv_twainframework kv_imageio)
  add_library(Kardivelle SHARED ${CMAKE_SOURCE_DIR}/src/platform/macos/export_main.cpp)
  target_compile_options(Kardivelle PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
  target_link_options(Kardivelle PRIVATE -Wl,--version-script=${KV_BUNDLE_EXPORTS})
  target_link_libraries(Kardivelle PRIVATE kardivelle_core)
  add_dependencies(Kardivelle kv_catalogue_rsrc)
  set_target_properties(Kardivelle PROPERTIES PREFIX "" SUFFIX "" LINK_DEPENDS ${KV_BUNDLE_EXPORTS}
    LIBRARY_OUTPUT_DIRECTORY ${KV_OUT}/Kardivelle.bundle/Contents/MacOS
    BUILD_RPATH "\$ORIGIN/../../../lib" INSTALL_RPATH "\$ORIGIN/../../../lib")
else()
  target_link_libraries(kardivelle_core PUBLIC windowscodecs ole32 uuid user32 gdi32 kernel32)
  add_library(Kardivelle SHARED ${CMAKE_SOURCE_DIR}/src/platform/windows/export_entry.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/windows/Kardivelle.def)
  target_link_libraries(Kardivelle PRIVATE kardivelle_core)
  if(TARGET kv_catalogue_rc)
    target_link_libraries(Kardivelle PRIVATE kv_catalogue_rc)
  endif()
  set_target_properties(Kardivelle PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${KV_OUT}
    LIBRARY_OUTPUT_DIRECTORY ${KV_OUT})
  # The worker process that carries out a record's calls with ISOLATION "PROCESS": the same
  # code around its own entry, shipped beside the DLL. A GUI program: no console appears.
  add_executable(kv-worker ${CMAKE_SOURCE_DIR}/src/platform/windows/export_worker.cpp)
  target_link_libraries(kv-worker PRIVATE kardivelle_core)
  set_target_properties(kv-worker PROPERTIES WIN32_EXECUTABLE TRUE RUNTIME_OUTPUT_DIRECTORY ${KV_OUT})
  add_dependencies(Kardivelle kv-worker)
  # Beside the 64-bit DLL, the 32-bit worker reaches the machine's 32-bit sources: the 32-bit
  # tree's kv-worker.exe (the same code), shipped as kv-worker32.exe.
  set(KV_WORKER32 "" CACHE FILEPATH "the 32-bit tree's kv-worker.exe, for the 64-bit build")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND KV_WORKER32)
    add_custom_command(OUTPUT ${KV_OUT}/kv-worker32.exe DEPENDS ${KV_WORKER32}
      COMMAND ${CMAKE_COMMAND} -E copy ${KV_WORKER32} ${KV_OUT}/kv-worker32.exe)
    add_custom_target(kv-worker32 ALL DEPENDS ${KV_OUT}/kv-worker32.exe)
    add_dependencies(Kardivelle kv-worker32)
  endif()
endif()

# A program that links the extension in finds its workers beside itself, as the DLL does: they
# are copied there after each build (tests, benches).
function(kv_workers_beside target)
  if(NOT KV_WINDOWS)
    return()
  endif()
  add_dependencies(${target} kv-worker)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kv-worker> $<TARGET_FILE_DIR:${target}>)
  if(TARGET kv-worker32)
    add_dependencies(${target} kv-worker32)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KV_OUT}/kv-worker32.exe $<TARGET_FILE_DIR:${target}>)
  endif()
endfunction()

# The extension's own code builds without a warning in both builds; any warning fails it.
option(KV_WERROR "treat warnings in the extension's own code as errors" ON)
if(KV_WERROR)
  target_compile_options(kardivelle_core PRIVATE -Werror)
  target_compile_options(Kardivelle PRIVATE -Werror)
  if(TARGET kv-worker)
    target_compile_options(kv-worker PRIVATE -Werror)
  endif()
endif()
