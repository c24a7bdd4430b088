# The game detector and the capture controller, over scripted platform backends.
vantel_add_unit_test(game_detector_test SOURCES GameDetectorTest.cpp LIBS vantel_engine)
vantel_add_unit_test(capture_test SOURCES CaptureTest.cpp LIBS vantel_engine)
