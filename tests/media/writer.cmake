vantel_add_test(fmp4_segment_writer_test LABEL unit
    SOURCES Fmp4SegmentWriterTest.cpp WriterTestSupport.cpp
    LIBS vantel_media Qt6::Core
    TIMEOUT 180)
vantel_add_test(direct_save_test LABEL unit
    SOURCES DirectSaveTest.cpp WriterTestSupport.cpp ClipTestSupport.cpp
    LIBS vantel_media Qt6::Core
    TIMEOUT 240)
