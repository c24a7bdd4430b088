# bench-library-window: opening and scrolling the library window with 2,000 clips (run inside
# tests/e2e/session.sh, it needs the X display).
add_executable(bench-library-window ${CMAKE_CURRENT_LIST_DIR}/BenchLibraryWindow.cpp)
target_link_libraries(bench-library-window PRIVATE vantel_library_ui)
add_dependencies(benchmarks bench-library-window)
# bench-library-folder: the library window while the clip folder changes to one of 200,000 files
# and a clip of it is shared and unshared (inside tests/e2e/session.sh, for the X display).
add_executable(bench-library-folder ${CMAKE_CURRENT_LIST_DIR}/BenchLibraryFolder.cpp)
target_link_libraries(bench-library-folder PRIVATE vantel_library_ui)
add_dependencies(benchmarks bench-library-folder)
