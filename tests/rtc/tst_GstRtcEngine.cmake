# Meets real peers (PulseAudio, nginx RTMP) and streams for about half a minute in all: the two
# longest functions run as cases of their own beside the rest, so that a parallel run overlaps
# them.
set(TEST_LABELS "rtc;peers")
set(TEST_TIMEOUT 240)
set(TEST_COST 12)
# The PulseAudio and GStreamer allocations kept for the process lifetime are recognised by their
# whole stack only.
set(TEST_ASAN_OPTIONS fast_unwind_on_malloc=0:detect_leaks=1)
tavio_split_test(${src} relayCarriesAacStereo48kWithLiveVolumeAndMute vanishingAndSwitchedDevicesKeepTheRelay)
