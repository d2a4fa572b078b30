# Warnings and floating-point settings shared by every target.
#
# The model must give the same numbers on every platform and compiler:
# no fused multiply-add contraction and no fast-math reassociation, so
# every formula is evaluated in the order it is written.
add_library(kelmar_settings INTERFACE)
if(MSVC)
  target_compile_options(kelmar_settings INTERFACE /W4 /fp:precise)
else()
  target_compile_options(kelmar_settings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -ffp-contract=off -fno-fast-math)
endif()

# The hardening Debian builds its packages with (dpkg-buildflags): checked
# buffer functions where the compiler knows the sizes (needs optimization),
# and the relocations resolved and made read-only before main runs. Not
# with the sanitizers, which bring their own checks.
if(NOT MSVC AND NOT KELMAR_SANITIZE AND NOT KELMAR_BUILD_FUZZERS AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  target_compile_options(kelmar_settings INTERFACE
    "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  target_link_options(kelmar_settings INTERFACE LINKER:-z,relro LINKER:-z,now)
endif()

if(KELMAR_SANITIZE)
  target_compile_options(kelmar_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  # The standard library's own checks (bounds of operator[], front() of an
  # empty container, ...) as well, for the tests and the fuzzers alike.
  target_compile_definitions(kelmar_settings INTERFACE _GLIBCXX_ASSERTIONS)
  target_link_options(kelmar_settings INTERFACE -fsanitize=address,undefined)
endif()

if(KELMAR_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KELMAR_BUILD_FUZZERS needs clang (libFuzzer): configure with CXX=clang++")
  endif()
  # Coverage feedback for libFuzzer from every target; only the fuzzers link
  # the fuzzing engine itself (-fsanitize=fuzzer, in fuzz/).
  target_compile_options(kelmar_settings INTERFACE -fsanitize=fuzzer-no-link)
  target_link_options(kelmar_settings INTERFACE -fsanitize=fuzzer-no-link)
endif()
