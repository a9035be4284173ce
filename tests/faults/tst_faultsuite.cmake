# The fault suite has its own label (the unit tests' time stays measurable apart, and
# `ctest -LE faults` leaves it out) and meets the peers the test command starts. Its groups run
# as cases of their own beside the other tests.
set(TEST_LABELS "faults;peers")
set(TEST_TIMEOUT 600)
set(TEST_COST 10)
# The PulseAudio and GStreamer allocations kept for the process lifetime are recognised by their
# whole stack only.
set(TEST_ASAN_OPTIONS fast_unwind_on_malloc=0:detect_leaks=1)
tavio_split_test(${src} startupFiles loginFaults liveFaults)
