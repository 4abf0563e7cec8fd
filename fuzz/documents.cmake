# Documents: the XML parser, entity decoding and the multipart splitter.
vyra_add_fuzzer(fuzz_xml_process SOURCES documents/fuzz_xml_process.cpp LIBS vyra_client)
vyra_add_fuzzer(fuzz_xml_entities SOURCES documents/fuzz_xml_entities.cpp LIBS vyra_client)
vyra_add_fuzzer(fuzz_multipart SOURCES documents/fuzz_multipart.cpp LIBS vyra_client)
