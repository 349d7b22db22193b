# Project warnings apply to our own targets only, never to Qt's headers.
function(kestrune_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  # g++ 12 reports -Wrestrict inside libstdc++'s string concatenation at -O2, a known
  # false positive of that compiler; our own code has no such copies.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# One static library per source folder; every .cpp/.h in the folder belongs to it,
# so adding a file needs no edit here.
function(kestrune_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _sources)
    # A folder whose code has not landed yet still gives its dependants a target.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} STATIC ${_sources} ${_headers})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  kestrune_warnings(${name})
endfunction()

# The forms call each other, so their folders cannot be static libraries linked one after
# the other. Each folder is an object library instead, and kestrune_forms
# (src/CMakeLists.txt) gathers all of them into one archive.
function(kestrune_gui_part name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _sources)
    # A folder whose code has not landed yet adds nothing.
    return()
  endif()
  file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} OBJECT ${_sources} ${_headers})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  kestrune_warnings(${name})
  # Layouts are Designer files beside the sources; the forms' tests include the headers
  # generated from them too.
  set_target_properties(${name} PROPERTIES AUTOUIC ON)
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/include>)
  set_property(GLOBAL APPEND PROPERTY KESTRUNE_FORM_PARTS ${name})
endfunction()

# Every tst_*.cpp in a test folder becomes one QtTest executable registered with CTest.
function(kestrune_test_folder prefix)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  foreach(_src ${_tests})
    get_filename_component(_base ${_src} NAME_WE)
    set(_exe ${prefix}_${_base})
    # The guard keeps every test program's UPnP searches off the network.
    add_executable(${_exe} ${_src} ${PROJECT_SOURCE_DIR}/tests/support/guard/LoopbackGuard.cpp)
    target_link_libraries(${_exe} PRIVATE ${ARG_DEPS} kestrune_testsupport Qt6::Test kestrune_server)
    target_include_directories(${_exe} PRIVATE ${MINIUPNPC_INCLUDE_DIR})
    kestrune_warnings(${_exe})
    add_test(NAME ${_exe} COMMAND ${_exe})
    # Each test gets a home of its own so that store files never meet.
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/home_${_exe})
    set_tests_properties(${_exe} PROPERTIES TIMEOUT 300
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${CMAKE_CURRENT_BINARY_DIR}/home_${_exe}")
  endforeach()
endfunction()

# Every folder under bench/ is one Google Benchmark executable. LOOPBACK_GUARD links the
# tests' guard, for programs that start a whole client: its UPnP searches stay off the
# network.
function(kestrune_bench name)
  cmake_parse_arguments(ARG "LOOPBACK_GUARD" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_sources)
    if(ARG_LOOPBACK_GUARD)
      list(APPEND _sources ${PROJECT_SOURCE_DIR}/tests/support/guard/LoopbackGuard.cpp)
    endif()
    add_executable(bench_${name} ${_sources})
    target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
    if(ARG_LOOPBACK_GUARD)
      target_link_libraries(bench_${name} PRIVATE kestrune_server)
      target_include_directories(bench_${name} PRIVATE ${MINIUPNPC_INCLUDE_DIR})
    endif()
    # Shared scaffolding: #include "common/BenchSupport.h"
    target_include_directories(bench_${name} PRIVATE ${PROJECT_SOURCE_DIR}/bench)
    kestrune_warnings(bench_${name})
  endif()
endfunction()
