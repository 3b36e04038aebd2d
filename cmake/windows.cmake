# Pieces of the Windows cross-build that Debian ships only for Linux.

# GoogleTest from Debian's sources, built with the cross compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)
# Test lists are read when ctest runs (under Wine), not at build time.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# nlohmann's header alone: Debian's CMake package would add /usr/include to the cross-build.
set(nlohmann_copy ${CMAKE_BINARY_DIR}/nlohmann_json/include)
file(COPY /usr/include/nlohmann DESTINATION ${nlohmann_copy})
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${nlohmann_copy})
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

enable_language(RC)

# Icon "MAINICON" and version information of a Windows program.
function(tefsync_windows_resources target description)
  set(TEFSYNC_RC_NAME ${target})
  set(TEFSYNC_RC_DESCRIPTION "${description}")
  set(TEFSYNC_RC_ICON ${PROJECT_SOURCE_DIR}/platform/win32/resources/${target}.ico)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
  configure_file(${PROJECT_SOURCE_DIR}/platform/win32/resources/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
