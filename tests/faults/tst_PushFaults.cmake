# The fault list against the real peers: it stops and restarts the shared RTMP server and
# unloads sound devices, so it runs alone, under a label of its own.
set(TEST_LABELS "faults;peers")
set(TEST_TIMEOUT 300)
set(TEST_RUN_SERIAL TRUE)
