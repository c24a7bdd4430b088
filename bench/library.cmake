# bench-library: saving 30 s of a 1080p60 buffer against the ffmpeg tool, and reloading a large
# library.
add_executable(bench-library ${CMAKE_CURRENT_LIST_DIR}/BenchLibrary.cpp)
target_link_libraries(bench-library PRIVATE vantel_library)
add_dependencies(benchmarks bench-library)
