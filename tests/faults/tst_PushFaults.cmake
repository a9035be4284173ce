# The fault list against the real peers: it stops and restarts the shared RTMP server and
# unloads sound devices, so it runs alone, under a label of its own.
set(TEST_LABELS "faults;peers")
set(TEST_TIMEOUT 300)
set(TEST_COST 70)
set(TEST_RUN_SERIAL TRUE)
# The PulseAudio and GStreamer allocations kept for the process lifetime are recognised by their
# whole stack only.
set(TEST_ASAN_OPTIONS fast_unwind_on_malloc=0:detect_leaks=1)
