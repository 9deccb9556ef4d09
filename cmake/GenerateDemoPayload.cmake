# Writes the demo payload's stand-in files: deterministic content of a few kilobytes each, so
# that the payload packs the same bytes on every build. Run with -DOUT=<folder> -DMANIFEST=<file>.
file(MAKE_DIRECTORY "${OUT}/files")
file(STRINGS "${MANIFEST}" lines)
set(index 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^#" OR line STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "^[^\t]*\t[^\t]*\t" "" source "${line}")
  math(EXPR index "${index} + 1")
  math(EXPR repeat "40 + ${index} * 17")
  string(REPEAT "${source}: stand-in content of demo payload entry ${index}.\n" ${repeat} body)
  file(WRITE "${OUT}/${source}.new" "${body}")
  # Keep the old file (and its time stamp) when nothing changed, so the payload is not repacked.
  file(COPY_FILE "${OUT}/${source}.new" "${OUT}/${source}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUT}/${source}.new")
endforeach()
configure_file("${MANIFEST}" "${OUT}/payload.manifest" COPYONLY)
