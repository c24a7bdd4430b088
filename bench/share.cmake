# bench-share: memory of sharing a 200 MB upload copy against the loopback service program.
add_executable(bench-share ${CMAKE_CURRENT_LIST_DIR}/BenchShare.cpp)
target_link_libraries(bench-share PRIVATE vantel_sharing)
add_dependencies(bench-share vantel-test-service)
add_dependencies(benchmarks bench-share)
