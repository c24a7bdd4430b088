# bench-capture: our capture (X11, or the Wayland portal) + PulseAudio into a replay buffer
# against the ffmpeg command-line tool with the same encoder settings (on Wayland encode-only).
# Needs a desktop and a sound server: run it inside tests/e2e/session.sh [--wayland].
if(VANTEL_WITH_X11 AND VANTEL_WITH_WAYLAND AND VANTEL_WITH_PULSE)
    add_executable(bench-capture ${CMAKE_CURRENT_LIST_DIR}/BenchCapture.cpp
        ${CMAKE_CURRENT_LIST_DIR}/FfmpegReference.cpp)
    target_link_libraries(bench-capture PRIVATE vantel_engine_core vantel_platform vantel_media
        PkgConfig::XCB Qt6::Gui)
    set_target_properties(bench-capture PROPERTIES AUTOMOC OFF)
    add_dependencies(benchmarks bench-capture)
endif()
