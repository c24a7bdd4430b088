# bench-library-window: opening and scrolling the library window with 2,000 clips (run inside
# tests/e2e/session.sh, it needs the X display).
add_executable(bench-library-window ${CMAKE_CURRENT_LIST_DIR}/BenchLibraryWindow.cpp)
target_link_libraries(bench-library-window PRIVATE vantel_library_ui)
add_dependencies(benchmarks bench-library-window)
