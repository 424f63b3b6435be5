# Compiler settings shared by every target of ours (not by GoogleTest).
add_library(quorvane_options INTERFACE)
target_compile_features(quorvane_options INTERFACE cxx_std_20)

if(MSVC)
  target_compile_options(quorvane_options INTERFACE /W4 /utf-8 /permissive-)
  # The static runtime, as MinGW links it below: nothing beside the system's DLLs.
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  if(QUORVANE_WERROR)
    target_compile_options(quorvane_options INTERFACE /WX)
  endif()
else()
  target_compile_options(quorvane_options INTERFACE -Wall -Wextra -Wpedantic)
  if(QUORVANE_WERROR)
    target_compile_options(quorvane_options INTERFACE -Werror)
  endif()
endif()

# The project's version, for the resource script (CMakeLists.txt is its one source).
foreach(part MAJOR MINOR PATCH)
  set(QUORVANE_VERSION_${part} ${PROJECT_VERSION_${part}})
  if(QUORVANE_VERSION_${part} STREQUAL "")
    set(QUORVANE_VERSION_${part} 0)
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/app/quorvane_version.h.in ${PROJECT_BINARY_DIR}/generated/quorvane_version.h @ONLY)
target_include_directories(quorvane_options INTERFACE ${PROJECT_BINARY_DIR}/generated)

# The same commit builds the same bytes in any folder, at any time: no build
# paths in the objects, no link time in the PE headers (an export table's and
# the carried skin DLL's included). Archives are made without member times.
if(NOT MSVC)
  # The build tree last: it lies inside the source tree, and the last match wins.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
  foreach(lang C CXX)
    set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
  endforeach()
endif()
if(MINGW)
  add_link_options(-Wl,--no-insert-timestamp)
endif()

if(WIN32)
  target_compile_definitions(quorvane_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
endif()

if(MINGW)
  # The executables and the skin DLL need nothing but Windows' own DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# The Linux release package's quorvane-sync runs on any distribution of its
# architecture: nothing to load, not even the C library.
option(QUORVANE_STATIC "Link the executables statically, the C library too (not on Windows)" OFF)
if(QUORVANE_STATIC AND NOT WIN32)
  add_link_options(-static)
endif()

option(QUORVANE_FUZZ "Build the libFuzzer programs (clang only)" OFF)
option(QUORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QUORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# wmain and wWinMain: MinGW needs to be told, MSVC finds them itself.
function(quorvane_wide_entry target)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()

# A DLL whose stdcall exports are looked up by their plain names
# ("Skin_AttachRes", not "_Skin_AttachRes@24" on i686). MSVC takes the names
# from the module-definition file DEF.
function(quorvane_undecorated_exports target def)
  if(MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  elseif(MSVC)
    target_sources(${target} PRIVATE ${def})
  endif()
endfunction()
