# Tests of the tone zone geometry and playing logic (no Qt), so that they can run in the
# builds without the GUI too:  include(${PROJECT_SOURCE_DIR}/tests/ui/logic.cmake)
include(${PROJECT_SOURCE_DIR}/src/ui/uilogic.cmake)
if(NOT TARGET test_tonezone_logic)
    add_executable(test_tonezone_logic
        ${CMAKE_CURRENT_LIST_DIR}/test_tonezone_geometry.cpp
        ${CMAKE_CURRENT_LIST_DIR}/test_playing.cpp)
    target_link_libraries(test_tonezone_logic PRIVATE varko_uilogic GTest::gtest_main)
    gtest_discover_tests(test_tonezone_logic)
endif()
