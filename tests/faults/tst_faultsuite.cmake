# A label of its own (`ctest -LE faults` leaves it out); its groups run as cases of their own.
set(TEST_LABELS "faults;peers")
set(TEST_TIMEOUT 600)
set(TEST_COST 10)
set(TEST_ASAN_OPTIONS fast_unwind_on_malloc=0:detect_leaks=1)
tavio_split_test(${src} startupFiles loginFaults liveFaults)
