include_guard(GLOBAL)

# reelvault_version_note(OUT_VAR MAJOR MINOR PATCH TWEAK): generates a source file that,
# compiled into an executable, stores that version in the executable's own file.
function(reelvault_version_note out_var major minor patch tweak)
  set(generated
      ${CMAKE_CURRENT_BINARY_DIR}/VersionNote_${major}_${minor}_${patch}_${tweak}.cpp)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VersionNote.cpp.in ${generated} @ONLY)
  set(${out_var} ${generated} PARENT_SCOPE)
endfunction()
