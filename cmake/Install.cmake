# What an app needs of an installed SDK: the libraries, the public headers under one include
# prefix (include/sharesdk, keeping their paths from the repository root), the resource bundles
# in share/sharesdk, where the libraries look for them, and the package files for CMake
# (find_package(ShareSdk)) and pkg-config (sharesdk).
include(CMakePackageConfigHelpers)

set(RZ_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ShareSdk)
set(RZ_INSTALL_RESOURCEDIR ${CMAKE_INSTALL_DATADIR}/sharesdk)

get_property(sdk_targets GLOBAL PROPERTY RZ_SDK_TARGETS)
install(TARGETS ${sdk_targets} EXPORT ShareSdkTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT ShareSdkTargets NAMESPACE ShareSdk:: DESTINATION ${RZ_INSTALL_CMAKEDIR})

foreach(folder platform RZBase_Source push http_client SocialSDK share_handlers)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/sharesdk
    FILES_MATCHING PATTERN "*.h")
endforeach()

install(DIRECTORY ${RZ_RESOURCE_ROOT}/RAZududeSDKResourcesNew.bundle
  DESTINATION ${RZ_INSTALL_RESOURCEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ShareSdkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ShareSdkConfig.cmake
  INSTALL_DESTINATION ${RZ_INSTALL_CMAKEDIR}
  PATH_VARS RZ_INSTALL_RESOURCEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ShareSdkConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ShareSdkConfig.cmake
  ${PROJECT_BINARY_DIR}/ShareSdkConfigVersion.cmake
  DESTINATION ${RZ_INSTALL_CMAKEDIR})

# pkg-config: the static libraries in link order, each before the ones it uses.
set(pc_libs)
foreach(target rz_share_handlers rz_socialsdk_ui rz_socialsdk_core rz_socialsdk_network rz_push
               rz_base rz_platform_render rz_platform_ui rz_platform_graphics rz_platform_net
               rz_platform)
  string(APPEND pc_libs " -l$<TARGET_FILE_BASE_NAME:${target}>")
endforeach()
# The prefix is found from the file's own place, so that a moved installation still works.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(pc_prefix "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH pc_prefix "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" pc_prefix "${pc_prefix}")
  set(pc_prefix "\${pcfiledir}/${pc_prefix}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/sharesdk.pc.in ${PROJECT_BINARY_DIR}/sharesdk.pc.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/sharesdk.pc INPUT ${PROJECT_BINARY_DIR}/sharesdk.pc.in)
install(FILES ${PROJECT_BINARY_DIR}/sharesdk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
