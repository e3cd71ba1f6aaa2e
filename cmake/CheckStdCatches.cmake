# Fails when the sources of the shipped programs catch one of the standard
# exception types whose throwing Common/WinRuntime/NvStdFailures.cpp replaces
# (there those failures are a small class of its own, caught as
# std::exception only). Run as: cmake -DNV_SOURCE_DIR=<source> -P this file.
set(types logic_error domain_error invalid_argument length_error out_of_range runtime_error range_error
  overflow_error underflow_error)
string(JOIN "|" alternatives ${types})
set(pattern "catch[ \t\r\n]*\\([ \t\r\n]*(const[ \t\r\n]+)?std::(${alternatives})")
file(GLOB_RECURSE sources
  ${NV_SOURCE_DIR}/Common/*.cpp ${NV_SOURCE_DIR}/Common/*.h
  ${NV_SOURCE_DIR}/project/*.cpp ${NV_SOURCE_DIR}/project/*.h
  ${NV_SOURCE_DIR}/Installer/*.cpp ${NV_SOURCE_DIR}/Installer/*.h
  ${NV_SOURCE_DIR}/Uninstaller/*.cpp ${NV_SOURCE_DIR}/Uninstaller/*.h)
set(found "")
foreach(f IN LISTS sources)
  if(f MATCHES "/tests/")
    continue()
  endif()
  file(READ ${f} text)
  string(REGEX MATCHALL "${pattern}" hits "${text}")
  if(hits)
    list(APPEND found "${f}: ${hits}")
  endif()
endforeach()
if(found)
  string(JOIN "\n  " lines ${found})
  message(FATAL_ERROR "These catch a standard exception type that the shipped programs never throw "
    "(Common/WinRuntime/NvStdFailures.cpp throws its own class for it); catch std::exception:\n  ${lines}")
endif()
list(LENGTH sources n)
message(STATUS "no catch of a replaced standard exception type in ${n} files")
