# What `cmake --install` lays out, and the Debian package made of it:
#   bin/                  zytfilt, zyt-monitor
#   lib/                  libzytplatform.so (the plug-ins' runtime), libzytcomobject.a,
#                         libzytplatformmime.so (mail and property sets, for our modules)
#   lib/zytfilters/       the modules (*.dll.so)
#   include/zytfilters/   the interfaces and the COM layer a plug-in is written against
#   lib/pkgconfig/, lib/cmake/zytFilters/, share/zytfilters/
# An installed zytfilt finds its modules in ../lib/zytfilters beside itself,
# and every binary finds libzytplatform.so through a relative RPATH, so the
# tree can be moved as a whole.
set(ZYT_INSTALL_MODULEDIR lib/zytfilters)

set_target_properties(zytfilt zyt-monitor PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
set_target_properties(zytfilters zytcomponents pdffilt PROPERTIES INSTALL_RPATH "$ORIGIN/..")

install(TARGETS zytfilt zyt-monitor RUNTIME DESTINATION bin)
install(TARGETS zytplatform zytplatformmime LIBRARY DESTINATION lib)
install(TARGETS zytcomobject ARCHIVE DESTINATION lib)
install(TARGETS zytfilters zytcomponents pdffilt LIBRARY DESTINATION ${ZYT_INSTALL_MODULEDIR})

# The headers a plug-in includes, and every header they include in turn (all
# of them need the standard library only).
file(GLOB ZYT_SDK_COM_HEADERS ${CMAKE_SOURCE_DIR}/platform/com/*.h)
file(GLOB ZYT_SDK_INTERFACE_HEADERS ${CMAKE_SOURCE_DIR}/interfaces/*.h)
install(FILES ${ZYT_SDK_COM_HEADERS} DESTINATION include/zytfilters/platform/com)
install(FILES ${ZYT_SDK_INTERFACE_HEADERS} DESTINATION include/zytfilters/interfaces)
install(FILES
  ${CMAKE_SOURCE_DIR}/platform/win32/Limits.h
  ${CMAKE_SOURCE_DIR}/platform/win32/Strings.h
  ${CMAKE_SOURCE_DIR}/platform/win32/SysInfo.h
  ${CMAKE_SOURCE_DIR}/platform/win32/WinError.h
  ${CMAKE_SOURCE_DIR}/platform/win32/WinTypes.h
  DESTINATION include/zytfilters/platform/win32)
install(FILES ${ZYT_MODULE_EXPORTS} DESTINATION share/zytfilters)
install(FILES ${CMAKE_SOURCE_DIR}/docs/writing-a-filter.md DESTINATION share/doc/zytfilters)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/csvfilter DESTINATION share/zytfilters/examples USE_SOURCE_PERMISSIONS)

# A sanitized build installs a sanitized SDK: its plug-ins are built the same way.
set(ZYT_SDK_FLAGS "")
if(ZYT_SANITIZE)
  set(ZYT_SDK_FLAGS "-fsanitize=address,undefined")
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/zytfilters.pc.in ${CMAKE_BINARY_DIR}/zytfilters.pc @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/zytFiltersConfig.cmake.in ${CMAKE_BINARY_DIR}/zytFiltersConfig.cmake @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zytfilters.pc DESTINATION lib/pkgconfig)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zytFiltersConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/zytFiltersConfig.cmake ${CMAKE_BINARY_DIR}/zytFiltersConfigVersion.cmake
  DESTINATION lib/cmake/zytFilters)

# cpack -G DEB: zytfilters_<version>_amd64.deb, depending on the Debian
# libraries the binaries were linked with (dpkg-shlibdeps works them out).
set(CPACK_PACKAGE_NAME zytfilters)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_PACKAGE_CONTACT "zytFilters developers <zytfilters@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Content filters for the indexer, their host, and an SDK for filter authors")
include(CPack)
