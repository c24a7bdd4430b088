# bench-app: the whole program recording the desktop against the ffmpeg command-line tool doing
# the same. Needs a display and a sound server: run it inside tests/e2e/session.sh.
add_executable(bench-app ${CMAKE_CURRENT_LIST_DIR}/BenchApp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FfmpegReference.cpp)
target_link_libraries(bench-app PRIVATE Qt6::Core vantel_engine_core)
target_compile_definitions(bench-app PRIVATE
    VANTEL_PROGRAM="$<TARGET_FILE:vantel-record>"
    VANTEL_TEST_GAME="$<TARGET_FILE:vantel-test-game>")
add_dependencies(bench-app vantel-record vantel-test-game)
add_dependencies(benchmarks bench-app)
