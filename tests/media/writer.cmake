vantel_add_unit_test(fmp4_segment_writer_test
    SOURCES Fmp4SegmentWriterTest.cpp WriterTestSupport.cpp
    LIBS vantel_media Qt6::Core
    TIMEOUT 180)
