# Found by find_package(GTest) in trees that build GoogleTest from source
# (gtest_from_source.cmake): the GTest:: targets already exist as aliases.
if(NOT TARGET GTest::gtest)
  set(GTest_FOUND FALSE)
  set(GTest_NOT_FOUND_MESSAGE "include cmake/gtest_from_source.cmake first")
endif()
