# find_package(zytFilters): the plug-in SDK.
#   zytFilters::platform   the runtime every module links (shared)
#   zytFilters::comobject  the object framework, one private copy per module
#   zytfilters_add_module(NAME SOURCES...)  a module: NAME.dll.so exporting the four entry points
get_filename_component(_zyt_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(zytFilters_INCLUDE_DIR "${_zyt_prefix}/include/zytfilters")
set(zytFilters_MODULE_DIR "${_zyt_prefix}/lib/zytfilters")
set(zytFilters_VERSION_SCRIPT "${_zyt_prefix}/share/zytfilters/module.exports")

if(NOT TARGET zytFilters::platform)
  add_library(zytFilters::platform SHARED IMPORTED)
  set_target_properties(zytFilters::platform PROPERTIES
    IMPORTED_LOCATION "${_zyt_prefix}/lib/libzytplatform.so"
    INTERFACE_INCLUDE_DIRECTORIES "${zytFilters_INCLUDE_DIR}"
    INTERFACE_COMPILE_FEATURES cxx_std_20)
  add_library(zytFilters::comobject STATIC IMPORTED)
  set_target_properties(zytFilters::comobject PROPERTIES
    IMPORTED_LOCATION "${_zyt_prefix}/lib/libzytcomobject.a"
    INTERFACE_LINK_LIBRARIES zytFilters::platform)
endif()

function(zytfilters_add_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".dll.so")
  target_link_options(${name} PRIVATE -Wl,--version-script=${zytFilters_VERSION_SCRIPT} -Wl,--no-undefined -Wl,-Bsymbolic)
  target_link_libraries(${name} PRIVATE zytFilters::comobject)
endfunction()
unset(_zyt_prefix)
