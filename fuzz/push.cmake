# Push reception: the WBXML decoder, the WSP header walk, and the whole preprocessing.
vyra_add_fuzzer(fuzz_wbxml SOURCES push/fuzz_wbxml.cpp LIBS vyra_client)
vyra_add_fuzzer(fuzz_wsp_headers SOURCES push/fuzz_wsp_headers.cpp LIBS vyra_client)
# Push preprocessing: bearer data, WDP reassembly, the WSP step, dispatch, Service Loading.
vyra_add_fuzzer(fuzz_push_preprocess SOURCES push/fuzz_push_preprocess.cpp LIBS vyra_client)
