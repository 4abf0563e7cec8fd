# Parsek against libcurl (easy API, same options) on one local nginx.
find_package(CURL)
find_package(OpenSSL REQUIRED)
if(CURL_FOUND)
  vyra_add_bench(bench_http SOURCES http/bench_http.cpp ${PROJECT_SOURCE_DIR}/tests/http/servers.cpp
                 ${PROJECT_SOURCE_DIR}/tests/http/fake_server.cpp
                 LIBS parsek_static CURL::libcurl OpenSSL::Crypto crypt)
else()
  message(WARNING "libcurl4-openssl-dev missing: bench_http is not built")
endif()
