# Stops and restarts the shared RTMP server, so it runs alone.
set(TEST_LABELS "faults;peers")
set(TEST_TIMEOUT 300)
set(TEST_COST 70)
set(TEST_RUN_SERIAL TRUE)
# PulseAudio's and GStreamer's lifetime allocations are recognised by their whole stack only.
set(TEST_ASAN_OPTIONS fast_unwind_on_malloc=0:detect_leaks=1)
