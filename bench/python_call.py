"""send(5, 7) from Python, for tapbroker_bench's python case: one timed call for every line
read from standard input, its nanoseconds written back (-1 for a wrong answer)."""
import sys
import time

import tapbroker_client as tb

client = tb.Client("bench")
client.connect(install_dir="/nonexistent/tapbroker-bench")  # the bench's broker, never another
ready = client.send(4, "bench", "flags", 0) == 0 and client.send(33) == 0
send, clock = client.send, time.perf_counter_ns
for _ in sys.stdin:
    start = clock()
    answer = send(5, 7)
    took = clock() - start
    print(took if ready and answer == 0 else -1, flush=True)
client.disconnect()
