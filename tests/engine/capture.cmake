# The game detector and the capture controller, over scripted platform backends.
vantel_add_test(game_detector_test LABEL unit SOURCES GameDetectorTest.cpp LIBS vantel_engine)
vantel_add_test(capture_test LABEL unit SOURCES CaptureControllerTest.cpp LIBS vantel_engine)
