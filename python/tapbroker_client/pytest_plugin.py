"""pytest plugin: a reference broker per test, fault plans, and record on the bench / replay
in CI. Load it with `-p tapbroker_client.pytest_plugin` (an installed package loads it by
itself).

Fixtures: `tapbroker` (the broker of the test: .pid, .trace, .stop()) and `tap_client` (a
Client named after the test, its cable open and both permissions taken). The marker
`@pytest.mark.tapbroker(faults=PLAN_TEXT, chain=PATH, replay=PATH, record=PATH, cable=(CABLE,
PORT) or None)` sets their options. Options: --tapbroker-record DIR, --tapbroker-replay DIR,
--tapbroker-timeout SECONDS.
"""
import os
import re
import signal
import subprocess
import time
from pathlib import Path

import pytest

import tapbroker_client as tb

PORT = 4001
CABLE = ("sim-usb", "port0")
# The lines a replaying broker writes when a client parts from its recording.
DIVERGENCE = re.compile(r"replay of .* differs |refused: the transcript holds")
_broker_key = pytest.StashKey()


def pytest_addoption(parser):
    group = parser.getgroup("tapbroker", "tapbroker_client's test double")
    group.addoption("--tapbroker-record", metavar="DIR",
                    help="record each test's conversations into DIR/<test id>.txt")
    group.addoption("--tapbroker-replay", metavar="DIR",
                    help="serve each test from its recording DIR/<test id>.txt instead of the "
                         "simulated cable; a bench that sends something else fails")
    group.addoption("--tapbroker-timeout", metavar="SECONDS", type=int, default=30,
                    help="the deadline of every send and receive of the clients (default 30)")


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "tapbroker(faults=None, chain=None, replay=None, record=None, "
        "cable=('sim-usb', 'port0')): the options of the test's broker and client")
    if getattr(config.option, "numprocesses", None):
        raise pytest.UsageError(
            "tapbroker: tests cannot run in parallel (-n): the broker listens on "
            "127.0.0.1:4001, one port for the whole machine. Run the suite on its own, or each "
            "suite in a network namespace of its own (see the Python guide, docs/python.md).")
    # The library reads it at every Connect: no test waits for a silent broker for ever.
    os.environ["TAPBROKER_CLIENT_TIMEOUT"] = str(config.getoption("tapbroker_timeout"))


def port_holder():
    """`name (process N)` of what listens on port 4001; None when nothing does."""
    inodes = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            rows = Path(table).read_text().splitlines()[1:]
        except OSError:
            continue
        for row in rows:
            fields = row.split()
            if fields[1].endswith(":%04X" % PORT) and fields[3] == "0A":  # 0A: LISTEN
                inodes.add("socket:[%s]" % fields[9])
    if not inodes:
        return None
    for process in Path("/proc").glob("[0-9]*"):
        try:
            if any(os.readlink(fd) in inodes for fd in (process / "fd").iterdir()):
                return "%s (process %s)" % ((process / "comm").read_text().strip(), process.name)
        except OSError:
            continue
    return "a process of another user"


class Broker:
    """A tapbroker.exe of one test, its standard error (trace and problems) in a file."""

    def __init__(self, arguments, trace_file, replay):
        self.replay = replay
        self.reported = False
        self._trace_file = trace_file
        with open(trace_file, "wb") as trace:
            self._process = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=trace)
        self.pid = self._process.pid
        while not any("listening on" in line for line in self.trace):
            if self._process.poll() is not None:
                raise RuntimeError("tapbroker.exe did not start (exit %d): %s" % (
                    self._process.returncode, "\n".join(self.trace)))
            time.sleep(0.01)

    @property
    def trace(self):
        """The lines of the broker's trace so far."""
        return Path(self._trace_file).read_text(errors="replace").splitlines()

    def stop(self):
        """Stops the broker (when it still runs) and returns its exit status."""
        if self._process.poll() is None:
            self._process.send_signal(signal.SIGTERM)
        return self._process.wait()

    def divergence(self):
        """The first line where a replay parted from its recording, or None."""
        if self.replay is None:
            return None
        return next((line for line in self.trace if DIVERGENCE.search(line)), None)


def _options(request):
    marker = request.node.get_closest_marker("tapbroker")
    return dict(marker.kwargs) if marker else {}


@pytest.fixture
def tapbroker(request, tmp_path):
    """The reference broker of this test, started for it and stopped after it."""
    holder = port_holder()
    if holder:
        pytest.fail("port 4001 is held by %s: stop it, or run the tests in a network namespace "
                    "of their own" % holder, pytrace=False)
    directory = tb.broker_dir()
    if directory is None:
        pytest.fail("no tapbroker.exe beside tapbroker_client: set TAPBROKER_INSTALL_DIR",
                    pytrace=False)
    options = _options(request)
    test_id = re.sub(r"[^\w.-]+", "_", request.node.nodeid)
    record_dir = request.config.getoption("tapbroker_record")
    replay_dir = request.config.getoption("tapbroker_replay")
    if record_dir:
        Path(record_dir).mkdir(parents=True, exist_ok=True)
        options["record"] = Path(record_dir) / (test_id + ".txt")
        options["record"].unlink(missing_ok=True)
    if replay_dir:
        options["replay"] = Path(replay_dir) / (test_id + ".txt")
    arguments = [str(Path(directory) / tb.BROKER), "--trace"]
    if options.get("replay"):
        # The recording holds what the faults and the chain did.
        arguments += ["--replay", str(options["replay"])]
    else:
        if options.get("faults"):
            plan = tmp_path / "faults.txt"
            plan.write_text(options["faults"])
            arguments += ["--faults", str(plan)]
    if options.get("record"):
        arguments += ["--record", str(options["record"])]
    if options.get("chain") and not options.get("replay"):
        arguments.append(str(options["chain"]))  # the description, the one operand
    broker = Broker(arguments, tmp_path / "tapbroker-trace.txt", options.get("replay"))
    request.node.stash[_broker_key] = broker
    yield broker
    broker.stop()
    line = broker.divergence()
    if line and not broker.reported:
        pytest.fail("the bench parted from its recording %s:\n%s" % (broker.replay, line),
                    pytrace=False)


@pytest.fixture
def tap_client(tapbroker, request):
    """A Client named after the test, connected to its broker, its cable open and command 33's
    permission taken, so that no command is withheld; disconnected after the test."""
    cable = _options(request).get("cable", CABLE)
    client = tb.Client(request.node.name)
    client.connect()
    if cable is not None:
        for arguments in ((4, *cable, 0), (33,)):
            grant = client.send(*arguments)
            if grant != 0:
                pytest.fail("the broker answered %d to command %d" % (grant, arguments[0]),
                            pytrace=False)
    yield client
    try:
        client.disconnect()
    except tb.Error:
        pass  # the test took the connection down itself


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A test whose bench parted from its recording fails with the broker's line for it."""
    report = (yield).get_result()
    broker = item.stash.get(_broker_key, None)
    line = broker.divergence() if broker and report.when == "call" else None
    if line:
        broker.reported = True
        report.outcome = "failed"
        report.longrepr = "the bench parted from its recording %s:\n%s" % (broker.replay, line)
