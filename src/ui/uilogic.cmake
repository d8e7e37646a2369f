# The tone zone's geometry and the playing logic, without Qt. Included by src/ui (the window)
# and usable by the render tool, which is built without the GUI:
#   include(${PROJECT_SOURCE_DIR}/src/ui/uilogic.cmake)
if(NOT TARGET varko_uilogic)
    add_library(varko_uilogic STATIC
        ${CMAKE_CURRENT_LIST_DIR}/ToneZoneGeometry.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Playing.cpp
    )
    target_include_directories(varko_uilogic PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(varko_uilogic PUBLIC varko_engine)
endif()
