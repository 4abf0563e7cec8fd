# Documents: qn_xml_process against expat (building a node list in its callbacks), pugixml and
# libxml2's tree parser on the same MMC-like documents.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VYRA_XML_PEERS REQUIRED IMPORTED_TARGET expat pugixml libxml-2.0)
vyra_add_bench(bench_documents SOURCES documents/bench_documents.cpp
               LIBS vyra_client PkgConfig::VYRA_XML_PEERS)
