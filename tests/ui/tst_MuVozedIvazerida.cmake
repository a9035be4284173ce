# Meets the local services and their 2 s heartbeat: started early in a parallel run.
set(TEST_COST 6)
