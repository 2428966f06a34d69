# A library of the SDK: headers by their path from the repository root inside the tree and
# under include/sharesdk once installed, C++20 for whoever links it, and the same name for an
# app whichever way it takes the SDK in: ShareSdk::<name without the project's "rz_" prefix>
# (or EXPORT_NAME), installed and exported with the package.
function(rz_sdk_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME" "" ${ARGN})
  if(NOT ARG_EXPORT_NAME)
    string(REGEX REPLACE "^rz_" "" ARG_EXPORT_NAME ${target})
  endif()
  get_target_property(type ${target} TYPE)
  set(scope PUBLIC)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope}
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/sharesdk>)
  target_compile_features(${target} ${scope} cxx_std_20)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME})
  add_library(ShareSdk::${ARG_EXPORT_NAME} ALIAS ${target})
  set_property(GLOBAL APPEND PROPERTY RZ_SDK_TARGETS ${target})
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
