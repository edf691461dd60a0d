# Applied per target so that third-party code (GoogleTest, Qt's generated sources) is
# not held to our standard.
function(reelvault_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                           -Wnon-virtual-dtor -Wformat=2)
  if(REELVAULT_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
