# zlib, nlohmann/json and googletest, for the host and for mingw-w64; libdeflate
# for the host.

if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

# nlohmann/json is header-only and lives in /usr/include, which a mingw build
# must not search as a whole: expose only its own folder.
find_path(NV_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(NV_JSON_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${NV_JSON_INCLUDE})
file(CREATE_LINK ${NV_NLOHMANN_DIR}/nlohmann ${NV_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(nv_json INTERFACE)
target_include_directories(nv_json SYSTEM INTERFACE ${NV_JSON_INCLUDE})

# googletest from the sources that Debian's googletest package installs,
# so that the same version serves the host and the cross builds.
set(NV_GTEST_SOURCE /usr/src/googletest CACHE PATH "googletest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${NV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# libdeflate (whole-buffer deflate with near-optimal parsing) for the host
# builder's packer; without it (the Windows builds: Debian has no mingw
# package of it) the packer codes with zlib alone.
add_library(nv_libdeflate INTERFACE)
if(NOT WIN32)
  find_path(NV_LIBDEFLATE_INCLUDE libdeflate.h)
  find_library(NV_LIBDEFLATE_LIB NAMES libdeflate.a deflate)
  if(NV_LIBDEFLATE_INCLUDE AND NV_LIBDEFLATE_LIB)
    target_include_directories(nv_libdeflate SYSTEM INTERFACE ${NV_LIBDEFLATE_INCLUDE})
    target_link_libraries(nv_libdeflate INTERFACE ${NV_LIBDEFLATE_LIB})
    target_compile_definitions(nv_libdeflate INTERFACE NV_HAVE_LIBDEFLATE)
  else()
    message(WARNING "libdeflate not found (Debian: libdeflate-dev): the builder packs with zlib alone")
  endif()
endif()
