# The ladder check: every source file of a folder may include headers of its
# own folder and of the folders below it, never of a folder above. Run as a
# test (ctest -R ladder) with -DSOURCE_DIR=<project>; fails with the list of
# upward includes.
#
# The order, bottom first. cli/ and gui/ are both programs at the top and
# never include each other; plugins/scangate/ is a module of its own that
# includes nothing of the program.
set(TESS_LADDER platform core raster art engine output shell)
set(TESS_PROGRAMS cli gui)

function(tess_rank folder out)
  list(FIND TESS_LADDER ${folder} _rank)
  if(_rank EQUAL -1)
    list(FIND TESS_PROGRAMS ${folder} _program)
    if(_program EQUAL -1)
      set(_rank -1)
    else()
      list(LENGTH TESS_LADDER _rank)
    endif()
  endif()
  set(${out} ${_rank} PARENT_SCOPE)
endfunction()

set(_violations "")
foreach(folder IN LISTS TESS_LADDER TESS_PROGRAMS ITEMS plugins/scangate)
  file(GLOB_RECURSE _files ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.inc)
  if(folder STREQUAL "plugins/scangate")
    set(_own -1)  # includes nothing of the program's folders
  else()
    tess_rank(${folder} _own)
  endif()
  foreach(f IN LISTS _files)
    file(STRINGS ${f} _includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+/[^\"]+\"")
    foreach(line IN LISTS _includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*$" "\\1" _target "${line}")
      tess_rank(${_target} _rank)
      if(_rank EQUAL -1)
        continue()  # not one of our folders (a generated header, a library)
      endif()
      set(_bad FALSE)
      if(_own EQUAL -1 OR _rank GREATER _own)
        set(_bad TRUE)
      endif()
      # The two programs sit side by side: neither includes the other.
      list(FIND TESS_PROGRAMS ${_target} _isProgram)
      if(NOT _isProgram EQUAL -1 AND NOT _target STREQUAL folder)
        set(_bad TRUE)
      endif()
      if(_bad)
        file(RELATIVE_PATH _rel ${SOURCE_DIR} ${f})
        string(STRIP "${line}" line)
        list(APPEND _violations "${_rel}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(_violations)
  list(JOIN _violations "\n  " _text)
  message(FATAL_ERROR "Includes that point up the ladder (${TESS_LADDER} < programs):\n  ${_text}")
endif()
message(STATUS "The ladder holds: no folder includes a header of a folder above it.")
