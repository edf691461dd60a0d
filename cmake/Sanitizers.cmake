if(REELVAULT_ASAN AND REELVAULT_TSAN)
  message(FATAL_ERROR "AddressSanitizer and ThreadSanitizer cannot be combined")
endif()
if(REELVAULT_ASAN)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(REELVAULT_SANITIZER=1)
endif()
if(REELVAULT_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  add_compile_definitions(REELVAULT_SANITIZER=1 REELVAULT_TSAN=1)
endif()

# The fuzz targets link libFuzzer themselves; everything else, the core library above
# all, carries the coverage instrumentation and the same sanitizers so that a fault deep
# in the code under test is caught where it happens.
if(REELVAULT_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "REELVAULT_FUZZ needs clang: -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(REELVAULT_ASAN OR REELVAULT_TSAN OR REELVAULT_BUILD_UI)
    message(FATAL_ERROR
            "REELVAULT_FUZZ builds its own sanitizers and no Qt: turn REELVAULT_ASAN, "
            "REELVAULT_TSAN and REELVAULT_BUILD_UI off")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(REELVAULT_SANITIZER=1)
endif()
