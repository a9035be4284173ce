# The fault list against the real peers: it stops and restarts the shared RTMP server and
# unloads sound devices, so it runs alone, under a label of its own.
set_tests_properties(${TEST_TARGET} PROPERTIES LABELS "faults;peers" TIMEOUT 300 RUN_SERIAL TRUE)
