# The session engine: a first document and the answers to its replies from the fuzzer, the
# bridge and the HTTP exchange replaced through the engine's test setters.
vyra_add_fuzzer(fuzz_session SOURCES session/fuzz_session.cpp LIBS vyra_session parsek_static)
