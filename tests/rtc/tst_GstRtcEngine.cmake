# Meets real peers (PulseAudio, nginx RTMP) and runs for about half a minute.
set_tests_properties(${TEST_TARGET} PROPERTIES LABELS "rtc;peers" TIMEOUT 240)
