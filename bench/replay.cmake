# bench-replay: the real encoder behind a replay buffer, fed generated 720p60 video with sound.
add_executable(bench-replay
    ${CMAKE_CURRENT_LIST_DIR}/BenchReplay.cpp
    ${PROJECT_SOURCE_DIR}/tests/common/SyntheticMedia.cpp)
target_include_directories(bench-replay PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(bench-replay PRIVATE vantel_engine_core vantel_media)
set_target_properties(bench-replay PROPERTIES AUTOMOC OFF)
add_dependencies(benchmarks bench-replay)
