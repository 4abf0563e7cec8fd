# Telephony: frames on the radio socket (with the daemon's request-text parser and the
# bridge's notification dispatch), reply texts, and the simulated modem's packet answers.
vyra_add_fuzzer(fuzz_ril_frame SOURCES telephony/fuzz_ril_frame.cpp LIBS vyra_kova_core vyra_sim_core)
vyra_add_fuzzer(fuzz_diag_reply SOURCES telephony/fuzz_diag_reply.cpp LIBS vyra_kova_core vyra_sim_core)
vyra_add_fuzzer(fuzz_modem_packet SOURCES telephony/fuzz_modem_packet.cpp LIBS vyra_sim_core)
# The answers to the bridge's roaming-list block reads, segment writes and IS-683 messages.
vyra_add_fuzzer(fuzz_param_replies SOURCES telephony/fuzz_param_replies.cpp LIBS vyra_kova_core)
