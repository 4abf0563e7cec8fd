# Platform: the kernel's answer to a route query and the proxy script the NetworkManager
# backend of the connection manager reads.
vyra_add_fuzzer(fuzz_route_reply SOURCES platform/fuzz_route_reply.cpp LIBS vyra_platform)
vyra_add_fuzzer(fuzz_pac_script SOURCES platform/fuzz_pac_script.cpp LIBS vyra_platform)
# The .reg text the registry tool imports.
vyra_add_fuzzer(fuzz_reg_file SOURCES platform/fuzz_reg_file.cpp LIBS vyra_platform)
