# Compiler settings shared by every target of ours (not by GoogleTest).
add_library(quorvane_options INTERFACE)
target_compile_features(quorvane_options INTERFACE cxx_std_20)

if(MSVC)
  target_compile_options(quorvane_options INTERFACE /W4 /utf-8 /permissive-)
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
