# The replay buffer, its snapshots and its run folders.
vantel_add_test(replay_buffer_test LABEL unit
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/ReplayBufferTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/SnapshotTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/RunFolderTest.cpp
    LIBS vantel_engine_core)
target_include_directories(replay_buffer_test PRIVATE ${PROJECT_SOURCE_DIR}/src
    ${PROJECT_SOURCE_DIR}/tests)

# The same over the real encoder.
vantel_add_test(replay_buffer_encode_test LABEL unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ReplayBufferEncodeTest.cpp
    LIBS vantel_engine_core
    TIMEOUT 180)
target_include_directories(replay_buffer_encode_test PRIVATE ${PROJECT_SOURCE_DIR}/src
    ${PROJECT_SOURCE_DIR}/tests)
