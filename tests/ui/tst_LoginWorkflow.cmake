# Waits for heartbeats of the real 2000 ms timer.
set_tests_properties(${TEST_TARGET} PROPERTIES TIMEOUT 180)
