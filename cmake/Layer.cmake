# How a target hands its usage requirements on: PUBLIC, or INTERFACE for an interface library.
function(rz_usage_scope target out)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(${out} INTERFACE PARENT_SCOPE)
  else()
    set(${out} PUBLIC PARENT_SCOPE)
  endif()
endfunction()

# A library of the SDK: headers by their path from the repository root, inside the tree through
# the include roots of the layers it may use (rz_include_root) and under include/sharesdk once
# installed, C++20 for whoever links it, and the same name for an app whichever way it takes the
# SDK in: ShareSdk::<name without the project's "rz_" prefix>
# (or EXPORT_NAME), installed and exported with the package.
function(rz_sdk_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME" "" ${ARGN})
  if(NOT ARG_EXPORT_NAME)
    string(REGEX REPLACE "^rz_" "" ARG_EXPORT_NAME ${target})
  endif()
  rz_usage_scope(${target} scope)
  target_include_directories(${target} ${scope}
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/sharesdk>)
  target_compile_features(${target} ${scope} cxx_std_20)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME})
  add_library(ShareSdk::${ARG_EXPORT_NAME} ALIAS ${target})
  set_property(GLOBAL APPEND PROPERTY RZ_SDK_TARGETS ${target})
endfunction()

# Inside the tree a library sees only its own headers and those of the libraries it links, so
# that a layer including a header of a layer above it fails to compile. Headers are included by
# their path from the repository root, which cannot be split; so each library gets a root of
# its own under the build folder that mirrors those paths with links to its folders only:
# every header directly in one of its folders, and every subfolder of those that is not a
# library of its own (one with a CMakeLists.txt). A library that links another gets that one's
# root too, transitively, as the layers below it.
function(rz_include_root target)
  cmake_parse_arguments(ARG "" "" "DIRS" ${ARGN})
  set(root ${PROJECT_BINARY_DIR}/include_roots/${target})
  file(REMOVE_RECURSE ${root})
  foreach(dir IN LISTS ARG_DIRS)
    get_filename_component(dir ${dir} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${dir})
    file(MAKE_DIRECTORY ${root}/${relative})
    file(GLOB entries CONFIGURE_DEPENDS LIST_DIRECTORIES true ${dir}/*)
    foreach(entry IN LISTS entries)
      get_filename_component(name ${entry} NAME)
      if(IS_DIRECTORY ${entry})
        if(EXISTS ${entry}/CMakeLists.txt)
          continue()
        endif()
      elseif(NOT name MATCHES "[.]h$")
        continue()
      endif()
      file(CREATE_LINK ${entry} ${root}/${relative}/${name} SYMBOLIC)
    endforeach()
  endforeach()
  rz_usage_scope(${target} scope)
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
endfunction()

# A layer is one static library made of every source in its folders; headers are
# included by their path from the repository root ("platform/Value.h").
function(rz_layer name)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  add_library(${name} STATIC ${sources})
  rz_sdk_library(${name})
  rz_include_root(${name} DIRS ${ARG_DIRS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# One GoogleTest executable per test folder; every case is registered with CTest
# under the given label.
function(rz_test_suite name)
  cmake_parse_arguments(ARG "" "LABEL" "DIRS;DEPS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} test_support GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE RZ_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} PROPERTIES LABELS ${ARG_LABEL} DISCOVERY_TIMEOUT 60)
endfunction()
