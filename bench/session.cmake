# The session engine: a 100-method session in process and through vyrad, against the tests'
# own provisioning server and a real vyra-modem.
vyra_add_bench(bench_session
  SOURCES session/bench_session.cpp
          ${PROJECT_SOURCE_DIR}/tests/client/provisioning_server.cpp
          ${PROJECT_SOURCE_DIR}/tests/http/fake_server.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp
  LIBS vyra_session parsek Threads::Threads)
target_compile_definitions(bench_session PRIVATE VYRA_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
add_dependencies(bench_session vyrad vyra-modem vyra-sim vyra-reg)
