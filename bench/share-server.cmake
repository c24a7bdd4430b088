# bench-share-server: upload, range reads and memory of vantel-share against dd and nginx.
add_executable(bench-share-server ${CMAKE_CURRENT_LIST_DIR}/BenchShareServer.cpp)
target_link_libraries(bench-share-server PRIVATE vantel_server vantel_server_testtools)
target_compile_definitions(bench-share-server PRIVATE
    VANTEL_SHARE_PROGRAM="$<TARGET_FILE:vantel-share>")
add_dependencies(bench-share-server vantel-share)
add_dependencies(benchmarks bench-share-server)
