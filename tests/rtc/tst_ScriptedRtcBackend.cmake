set_tests_properties(${TEST_TARGET} PROPERTIES LABELS "rtc")
