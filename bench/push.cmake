# Push reception: qn_wbxml_decode against libwbxml's tree decoder on a 100 KiB WML deck.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VYRA_WBXML_PEER REQUIRED IMPORTED_TARGET libwbxml2)
vyra_add_bench(bench_wbxml SOURCES push/bench_wbxml.cpp LIBS vyra_client PkgConfig::VYRA_WBXML_PEER)
