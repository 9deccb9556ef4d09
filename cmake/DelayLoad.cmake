# Delay-loaded import libraries: a DLL that is not one Windows always takes from its system folder
# is not named in an executable's import table, where the loader would look for it beside the
# executable first. Its functions are bound on first call instead, by which time the process has
# restricted DLL searches to the system folder (nv/dll_search.h).
#
# nv_delay_load(NAME DLL) makes the target delay::NAME from cmake/delayload/NAME.def, which lists
# the functions used with their stdcall decorations (32-bit names; a 64-bit build drops them, since
# x86-64 has one calling convention and undecorated names).
find_program(NV_DLLTOOL ${NV_MINGW_PREFIX}-dlltool REQUIRED)

function(nv_delay_load name dll)
  set(def ${PROJECT_SOURCE_DIR}/cmake/delayload/${name}.def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    file(READ ${def} exports)
    string(REGEX REPLACE "@[0-9]+" "" exports "${exports}")
    set(def ${CMAKE_BINARY_DIR}/delayload/${name}.def)
    file(CONFIGURE OUTPUT ${def} CONTENT "${exports}" @ONLY)
  endif()
  set(lib ${CMAKE_BINARY_DIR}/delayload/lib${name}_delay.a)
  # Made afresh in a folder of its own and copied over only when it differs: configuring again
  # with nothing changed leaves the library, and so every program linked with it, as it was.
  set(fresh ${CMAKE_BINARY_DIR}/delayload/fresh)
  file(MAKE_DIRECTORY ${fresh})
  # dlltool names the library's symbols after the output path and its temporary files after its
  # process id: a plain name and a fixed prefix keep the build folder and the run out of both.
  execute_process(COMMAND ${NV_DLLTOOL} --input-def ${def} --output-delaylib lib${name}_delay.a
                          --dllname ${dll} --kill-at --temp-prefix ${name}_delay
                  WORKING_DIRECTORY ${fresh}
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dlltool could not make the delay-load library for ${dll}")
  endif()
  file(COPY_FILE ${fresh}/lib${name}_delay.a ${lib} ONLY_IF_DIFFERENT)
  add_library(delay::${name} STATIC IMPORTED GLOBAL)
  set_target_properties(delay::${name} PROPERTIES IMPORTED_LOCATION ${lib})
endfunction()

nv_delay_load(version version.dll)
nv_delay_load(bcrypt bcrypt.dll)
