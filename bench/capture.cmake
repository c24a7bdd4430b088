# bench-capture: our X11 + PulseAudio capture into a replay buffer against the ffmpeg command-line
# tool capturing the same screen and sound with the same encoder settings. Needs a display and a
# sound server: run it inside tests/e2e/session.sh.
add_executable(bench-capture ${CMAKE_CURRENT_LIST_DIR}/BenchCapture.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FfmpegReference.cpp)
target_link_libraries(bench-capture PRIVATE vantel_engine_core vantel_platform vantel_media
    PkgConfig::XCB)
set_target_properties(bench-capture PROPERTIES AUTOMOC OFF)
add_dependencies(benchmarks bench-capture)
