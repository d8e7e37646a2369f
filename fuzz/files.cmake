# libFuzzer targets for the scale, mode and history readers. The readers are built again here
# with coverage instrumentation so that the fuzzer can steer into them.
file(GLOB VARKO_FILES_FUZZ_LIB_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/files/*.cpp)
add_library(varko_files_fuzzlib STATIC ${VARKO_FILES_FUZZ_LIB_SOURCES})
target_include_directories(varko_files_fuzzlib PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(varko_files_fuzzlib PUBLIC
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)

foreach(target scala modes history)
    add_executable(files_${target}_fuzz ${CMAKE_CURRENT_LIST_DIR}/files_${target}.cpp)
    target_link_libraries(files_${target}_fuzz PRIVATE varko_files_fuzzlib)
    target_link_options(files_${target}_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
    # New inputs go to a folder in the build tree; the seeds in the source tree stay as they are.
    set(work ${CMAKE_CURRENT_BINARY_DIR}/corpus-files-${target})
    file(MAKE_DIRECTORY ${work})
    add_test(NAME fuzz_files_${target}
             COMMAND files_${target}_fuzz -max_total_time=30 -max_len=65536 -timeout=10
                     -rss_limit_mb=2048 ${work} ${CMAKE_CURRENT_LIST_DIR}/corpus/${target})
    set_tests_properties(fuzz_files_${target} PROPERTIES LABELS fuzz TIMEOUT 120)
endforeach()
