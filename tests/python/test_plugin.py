"""The pytest plugin as a user's suite meets it: record, replay, divergence, a held port."""
import socket

BENCH = """
def test_bench(tap_client):
    tap_client.send(5, {})
"""


def run(pytester, *options):
    return pytester.runpytest("-p", "tapbroker_client.pytest_plugin", *options)


def test_a_recorded_bench_replays_and_a_changed_one_fails_with_the_broker_line(pytester):
    pytester.makepyfile(test_bench=BENCH.format(7))
    run(pytester, "--tapbroker-record", "rec").assert_outcomes(passed=1)
    assert (pytester.path / "rec/test_bench.py_test_bench.txt").read_text().startswith('client "test_bench"')
    run(pytester, "--tapbroker-replay", "rec").assert_outcomes(passed=1)
    pytester.makepyfile(test_bench=BENCH.format(8))
    result = run(pytester, "--tapbroker-replay", "rec")
    result.assert_outcomes(failed=1)
    result.stdout.re_match_lines([r".*replay of conversation 1 .* differs at line \d+, byte 1: "
                                  r'expected "7\\0", came "8\\0"'])


def test_a_held_port_is_named(pytester):
    pytester.makepyfile(BENCH.format(7))
    with socket.socket() as holder:
        holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        holder.bind(("127.0.0.1", 4001))
        holder.listen()
        result = run(pytester)
    result.assert_outcomes(errors=1)
    result.stdout.fnmatch_lines(["*port 4001 is held by python3 (process *)*"])


def test_parallel_runs_are_refused(pytester):
    # pytest-xdist's option (-n is its short form), without pytest-xdist.
    pytester.makeconftest('def pytest_addoption(parser):\n'
                          '    parser.addoption("--numprocesses")\n')
    result = run(pytester, "--numprocesses=2")
    assert result.ret == 4
    result.stderr.fnmatch_lines(["*tests cannot run in parallel (-n)*127.0.0.1:4001*"])


def test_the_marker_chooses_the_chain_and_the_fault_plan(pytester):
    pytester.makefile(".json", chain='{"devices": [{"name": "one", "idcode": 4097, "irLength": 4}]}')
    pytester.makepyfile("""
        import pytest
        @pytest.mark.tapbroker(chain="chain.json", faults="9 1 answer -5\\n")
        def test_chain(tap_client):
            assert tap_client.send(8) == 1 and tap_client.read_list() == ["0x00001001"]
            assert tap_client.send(9, 0) == -5  # an answer, negative or not, is a value
    """)
    run(pytester).assert_outcomes(passed=1)
