# Sample conversion speed: every routine beside a memcpy of the same bytes.
add_executable(bench_convert ${CMAKE_CURRENT_LIST_DIR}/convert_bench.cpp)
target_link_libraries(bench_convert PRIVATE varko_devices benchmark::benchmark)
