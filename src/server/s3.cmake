# vantel_s3: the S3 client (Signature V4, multipart uploads, ranged downloads) the object store
# of the sharing service is built on. Qt Core and cpp-httplib only.
add_library(vantel_s3 STATIC
    ${CMAKE_CURRENT_LIST_DIR}/S3Signer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/S3Client.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BodyPipe.cpp
)
target_include_directories(vantel_s3 PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vantel_s3 PUBLIC Qt6::Core PkgConfig::HTTPLIB)
