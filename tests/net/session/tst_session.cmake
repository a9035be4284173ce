# Many short waits for the channel's 100 ms tick, and a walk through all 65535 uuids that is slow
# under the sanitizers: the longest functions run as cases of their own.
set(TEST_COST 3)
tavio_split_test(${src} reopenOncePerSecondAndOffLineAfterTwoMinutes heartBeatStatus uuidsWrapToOneSkippingZero)
