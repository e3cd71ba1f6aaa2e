# The installed builder (host builds): setup-builder with the 32-bit product
# runtime, Setup.exe and Uninstall.exe, as its default runtime in
# share/nvsetup/runtime, and the project reference; "cpack -G DEB" makes
# setup-builder_VERSION_amd64.deb of it. The runtime comes from the win32
# build (NV_RUNTIME_BUILD_DIR): build that preset first.
if(WIN32 OR NOT TARGET setup-builder)
  return()
endif()
include(GNUInstallDirs)
# Installing and packaging take what is built: setup-builder and the win32
# runtime (building "all" would build every test program too).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
install(CODE "
  foreach(f Installer/Setup.exe Uninstaller/Uninstall.exe)
    if(NOT EXISTS \"${NV_RUNTIME_BUILD_DIR}/\${f}\")
      message(FATAL_ERROR \"${NV_RUNTIME_BUILD_DIR}/\${f} is missing: build the win32 preset first (cmake --preset win32 && cmake --build --preset win32)\")
    endif()
  endforeach()")
install(TARGETS setup-builder RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${NV_RUNTIME_BUILD_DIR}/Installer/Setup.exe ${NV_RUNTIME_BUILD_DIR}/Uninstaller/Uninstall.exe
  DESTINATION ${CMAKE_INSTALL_DATADIR}/nvsetup/runtime)
install(FILES ${PROJECT_SOURCE_DIR}/docs/project-reference.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/setup-builder)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/demo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/setup-builder/examples/demo
  PATTERN app EXCLUDE)

set(CPACK_PACKAGE_NAME setup-builder)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "NvSetup maintainers <nvsetup@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Builds NvSetup packages for Windows products from a setup project")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
