vantel_add_test(clip_media_test LABEL unit
    SOURCES RangeCopyTest.cpp ExportTest.cpp FrameGrabberTest.cpp ClipTestSupport.cpp
    LIBS vantel_media Qt6::Core
    TIMEOUT 240)
