# SPDX-License-Identifier: GPL-3.0-or-later
# The preview snapshot tests; included by tests/engine/CMakeLists.txt. They
# read the media that the `make_media` setup test writes to ${CMAKE_BINARY_DIR}/media
# and make a few clips of their own with the ffmpeg program.
add_executable(preview_tests ${CMAKE_CURRENT_LIST_DIR}/preview_test.cpp)
target_link_libraries(preview_tests PRIVATE morvane_engine GTest::gtest_main JPEG::JPEG)
add_test(NAME preview_tests COMMAND preview_tests)
set_tests_properties(preview_tests PROPERTIES
  FIXTURES_REQUIRED media
  ENVIRONMENT "MORVANE_FIXTURES=${CMAKE_BINARY_DIR}/media")
