# The HTTP library's parsers: response split with chunked decoding, URLs (with the
# request built from them), Digest challenges, and the proxy's end-to-end header list with
# the header look-ups; and vyra-http's redirect resolution.
vyra_add_fuzzer(fuzz_http_response SOURCES http/fuzz_http_response.cpp LIBS parsek_static)
vyra_add_fuzzer(fuzz_http_url SOURCES http/fuzz_http_url.cpp LIBS parsek_static)
vyra_add_fuzzer(fuzz_http_challenge SOURCES http/fuzz_http_challenge.cpp LIBS parsek_static)
vyra_add_fuzzer(fuzz_http_e2e SOURCES http/fuzz_http_e2e.cpp LIBS parsek_static)
vyra_add_fuzzer(fuzz_http_location SOURCES http/fuzz_http_location.cpp LIBS vyra_http_location)
