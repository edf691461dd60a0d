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

# The sanitizers' run-time options for every test (reelvault_test adds them; tests added
# with add_test append ${REELVAULT_SANITIZER_ENV} to their ENVIRONMENT). Each suppression
# file says per entry why it is there.
set(REELVAULT_SANITIZER_ENV "")
if(REELVAULT_ASAN)
  set(REELVAULT_SANITIZER_ENV
      "ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1"
      "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
      "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
if(REELVAULT_TSAN)
  # die_after_fork=0: the window tests start xdotool through QProcess from a program that
  # already runs threads (Qt's, the media facts worker); the child only executes the tool,
  # which is not built with the sanitizer.
  set(REELVAULT_SANITIZER_ENV
      "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp:second_deadlock_stack=1:die_after_fork=0")
endif()
