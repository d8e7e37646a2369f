add_executable(engine_bench ${CMAKE_CURRENT_SOURCE_DIR}/engine_bench.cpp)
target_link_libraries(engine_bench PRIVATE varko_engine benchmark::benchmark)

# Real-time-pace runs of the bank (60 s each), run by hand.
add_executable(engine_realtime ${CMAKE_CURRENT_SOURCE_DIR}/engine_realtime.cpp)
target_link_libraries(engine_realtime PRIVATE varko_engine)
