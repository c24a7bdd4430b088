vantel_add_unit_test(fmp4_segment_writer_test
    SOURCES Fmp4SegmentWriterTest.cpp WriterTestSupport.cpp
    LIBS vantel_media Qt6::Core
    TIMEOUT 180)
vantel_add_unit_test(direct_save_test
    SOURCES DirectSaveTest.cpp WriterTestSupport.cpp ClipTestSupport.cpp
    LIBS vantel_media Qt6::Core
    TIMEOUT 240)
