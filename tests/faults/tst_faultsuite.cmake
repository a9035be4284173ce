# The fault suite has its own label (the unit run's time stays measurable with -LE faults) and
# meets the peers the test command starts.
set_tests_properties(${TEST_TARGET} PROPERTIES LABELS "faults;peers" TIMEOUT 600)
