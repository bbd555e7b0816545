# Builds that look for memory errors, undefined behaviour and leaks. Each goes
# to a build folder of its own (see the Makefile), so the normal build is
# untouched.
#
#   -DPEALIX_SANITIZE=ON   everything with AddressSanitizer (leak checking
#                          included) and UndefinedBehaviorSanitizer; any report
#                          ends the process with a failure.
#   -DPEALIX_FUZZ=ON       (clang only) the libFuzzer targets of tests/fuzz and
#                          the libraries they reach, with the same sanitizers.
option(PEALIX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(PEALIX_FUZZ "Build the libFuzzer targets under tests/fuzz (clang)" OFF)

if(PEALIX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(PEALIX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "PEALIX_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  # clang 14 cannot instrument coroutine frames for -fsanitize=function
  # ("Cannot represent a difference across sections"), so that one check is off.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=function
                      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
