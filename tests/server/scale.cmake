# Tests of the sharing service (label "server"): against the real S3 stand-in (npm's
# @20minutes/s3rver, pinned in package.json and installed into the build tree by npm ci) and a
# throw-away PostgreSQL cluster.
find_program(VANTEL_NODE node REQUIRED)
find_program(VANTEL_NPM npm REQUIRED)
set(VANTEL_TEST_TOOLS ${CMAKE_BINARY_DIR}/test-tools)
add_custom_command(
    OUTPUT ${VANTEL_TEST_TOOLS}/node_modules/.package-lock.json
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VANTEL_TEST_TOOLS}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/package.json
        ${CMAKE_CURRENT_LIST_DIR}/package-lock.json ${VANTEL_TEST_TOOLS}
    COMMAND ${VANTEL_NPM} ci --prefix ${VANTEL_TEST_TOOLS} --prefer-offline --no-audit --no-fund
        --loglevel=error
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/package.json ${CMAKE_CURRENT_LIST_DIR}/package-lock.json
    COMMENT "Installing the S3 stand-in with npm ci")
add_custom_target(server_test_tools DEPENDS ${VANTEL_TEST_TOOLS}/node_modules/.package-lock.json)

# The stand-ins the server tests and the benchmark share.
add_library(vantel_server_testtools STATIC S3Standin.cpp PgCluster.cpp ServerProcess.cpp)
target_include_directories(vantel_server_testtools PUBLIC ${PROJECT_SOURCE_DIR}/tests
    ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vantel_server_testtools PUBLIC vantel_s3 Qt6::Core Qt6::Network)
target_compile_definitions(vantel_server_testtools PRIVATE
    VANTEL_TEST_NODE="${VANTEL_NODE}"
    VANTEL_TEST_NODE_MODULES="${VANTEL_TEST_TOOLS}/node_modules"
    VANTEL_TEST_S3RVER_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/s3rver.js")
add_dependencies(vantel_server_testtools server_test_tools)

# Under the sanitizers, over the stand-ins above.
vantel_add_test(server_s3_test LABEL server SOURCES S3SignerTest.cpp S3ClientTest.cpp
    LIBS vantel_s3 vantel_server_testtools TIMEOUT 180)
vantel_add_test(server_s3_store_test LABEL server SOURCES S3BlobStoreTest.cpp
    LIBS vantel_server vantel_server_testtools TIMEOUT 240)
vantel_add_test(server_pg_catalog_test LABEL server SOURCES PgCatalogTest.cpp
    LIBS vantel_server vantel_server_testtools TIMEOUT 240)
vantel_add_test(server_two_instances_test LABEL server SOURCES TwoInstancesTest.cpp
    LIBS vantel_server vantel_server_testtools TIMEOUT 300)
target_compile_definitions(server_two_instances_test PRIVATE
    VANTEL_SHARE_PROGRAM="$<TARGET_FILE:vantel-share>")
add_dependencies(server_two_instances_test vantel-share)
vantel_add_test(server_listen_backlog_test LABEL server SOURCES ListenBacklogTest.cpp
    LIBS vantel_server TIMEOUT 300)

# The tray program's end-to-end test once more, with the service on PostgreSQL and the S3
# stand-in (inside the e2e session, like the first).
if(VANTEL_HAVE_X11_SESSION)
    vantel_add_server_test(server_program_scaled_e2e_test
        SOURCES ProgramE2eTest.cpp LIBS Qt6::DBus Qt6::Test vantel_server_testtools
        CONFIG RelWithDebInfo TIMEOUT 420)
    set_tests_properties(server_program_scaled_e2e_test PROPERTIES RUN_SERIAL TRUE)
    target_compile_definitions(server_program_scaled_e2e_test PRIVATE VANTEL_TEST_SCALED
        VANTEL_PROGRAM="$<TARGET_FILE:vantel-record-test>"
        VANTEL_SIGN_IN_BROWSER="$<TARGET_FILE:vantel-test-sign-in-browser>")
    add_dependencies(server_program_scaled_e2e_test vantel-record-test vantel-test-sign-in-browser)
endif()
