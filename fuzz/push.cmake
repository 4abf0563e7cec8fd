# Push reception: the WBXML decoder and the WSP header walk.
vyra_add_fuzzer(fuzz_wbxml SOURCES push/fuzz_wbxml.cpp LIBS vyra_client)
vyra_add_fuzzer(fuzz_wsp_headers SOURCES push/fuzz_wsp_headers.cpp LIBS vyra_client)
