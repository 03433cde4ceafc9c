# Builds GoogleTest and GoogleMock from the sources Debian's libgtest-dev ships,
# for trees whose ABI the prebuilt libraries do not match (the -m32 build).
# Included right after project(); the later find_package(GTest) then resolves
# to these targets through the config file next to this one.
set(TAVI_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources to build from")
if(NOT EXISTS ${TAVI_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${TAVI_GTEST_SOURCE_DIR} (Debian: libgtest-dev)")
endif()

if(NOT TARGET GTest::gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # The project builds with -Werror; third-party sources keep their own warnings.
  add_subdirectory(${TAVI_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(t gtest gtest_main gmock gmock_main)
    target_compile_options(${t} PRIVATE -w)
  endforeach()
endif()

set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/gtest_source CACHE PATH "" FORCE)
