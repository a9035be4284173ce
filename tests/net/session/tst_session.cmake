# Many short waits for the channel's 100 ms tick: started early in a parallel run.
set(TEST_COST 9)
