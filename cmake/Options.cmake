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

if(WIN32)
  target_compile_definitions(quorvane_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
endif()

if(MINGW)
  # The executables and the skin DLL need nothing but Windows' own DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
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
