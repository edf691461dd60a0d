# Applied per target so that third-party code (GoogleTest, Qt's generated sources) is
# not held to our standard.
function(reelvault_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                           -Wnon-virtual-dtor -Wformat=2)
  if(REELVAULT_ASAN OR REELVAULT_TSAN)
    # g++ 12 reports uninitialized reads inside libstdc++'s own std::regex and
    # std::function once the sanitizers' instrumentation changes what it inlines; its
    # manual warns that this warning gives false positives under -fsanitize.
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  if(REELVAULT_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
