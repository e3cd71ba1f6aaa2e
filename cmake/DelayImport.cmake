# Import libraries whose DLL is loaded at the first call of one of its
# functions instead of at start-up: most runs of the setup program never
# download (WinHTTP and its sockets) or decode a picture (the codecs), and
# every DLL loaded at start-up costs start-up time.
#
#   nv_delay_import(NAME DEF)  ->  target nv_delay_NAME to link instead of NAME
function(nv_delay_import name def)
  # The definitions are read here, when CMake configures: an edit of them
  # configures again, so that the library is made anew.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  file(READ ${def} text)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")  # no stdcall decoration in 64 bits
    set(kill "")
  else()
    set(kill --kill-at)  # the DLL exports the names without the decoration
  endif()
  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/${name}.def "${text}")
  set(lib ${dir}/lib${name}_delay.a)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${dir}/${name}.def --output-delaylib ${lib} ${kill}
    DEPENDS ${def} VERBATIM)
  add_custom_target(nv_delay_${name}_lib DEPENDS ${lib})
  add_library(nv_delay_${name} INTERFACE)
  add_dependencies(nv_delay_${name} nv_delay_${name}_lib)
  target_link_libraries(nv_delay_${name} INTERFACE ${lib} delayimp)
endfunction()
