"""The module against the reference broker: send's shapes, exceptions, the GIL, transcripts."""
import os
import re
import subprocess
import threading
import time
from pathlib import Path

import pytest

import tapbroker_client as tb

ROOT = Path(__file__).resolve().parents[2]

# One call per argument shape of the table Send reads, with arguments the simulator takes.
SHAPES = [
    (1,), (29, "x"), (3, "a", "b"), (5, 7), (20, 0, 0), (21, 0, "a", 0, "b", 0, "c", 0, "d"),
    (4, "sim-usb", "port0", 2, 0, 0), (41, 2, "a", "b"), (44, 3), (44, 1, "x"), (44, 2, 0),
    (44, 30, 0, "x", 0), (44, 120, 1, "a", "b"), (44, 36, 1),
    (44, 12, 0, 8, 1, 1, b"\xff", b"\xff", bytearray(1)), (19, 0, 8, 1, memoryview(b"\0")),
    (42, bytes(1), 8, 1, 1), (46, 0, 0xA0, 8, b"\0", 0), (50, 0, 8, b"\x9f", 0),
]
KINDS = {int: "an int", str: "a string", bytes: "data", bytearray: "data", memoryview: "data"}


@pytest.mark.parametrize("call", SHAPES, ids=lambda call: "-".join(map(str, call[:2])))
def test_send_checks_every_argument_against_the_shape(tap_client, call):
    command, args = call[0], list(call[1:])
    unconnected = tb.Client("nobody")  # anything sent would raise ConnectionLost instead
    for i, value in enumerate(args):
        wrong = args[:i] + [1 if not isinstance(value, int) else "1"] + args[i + 1:]
        with pytest.raises(TypeError, match="^argument %d of command %d is %s" % (
                i + 2, command, KINDS[type(value)])):
            unconnected.send(command, *wrong)
    for count in (args[:-1], args + [0]):
        if count:
            with pytest.raises(TypeError, match="takes %d argument" % len(args)):
                unconnected.send(command, *count)
    assert isinstance(tap_client.send(command, *args), int)


@pytest.mark.parametrize("call, error", [
    ((19, 0, 64, 1, b"\0"), "holds 1 bytes; a bit count of 64 takes 8"),
    ((5, 2**32), "does not fit 32 bits"),
    ((2, "a\0b"), "holds a NUL"),
])
def test_send_refuses_values_before_sending(call, error):
    with pytest.raises(ValueError, match=error):
        tb.Client("nobody").send(*call)


def test_failures_raise_with_their_codes_once_the_broker_is_gone(tapbroker, tap_client):
    with pytest.raises(tb.ArgumentRefused) as refused:
        tap_client.send(4, "sim-usb", "port0", 11)
    assert refused.value.code == tb.ARGUMENT_REFUSED == tap_client.status
    tapbroker.stop()
    with pytest.raises(ProcessLookupError):
        os.kill(tapbroker.pid, 0)
    for call, kind, code in [(lambda: tap_client.send(5, 7), tb.ConnectionLost, tb.RECEIVE_FAILED),
                             (tap_client.read_int, tb.ConnectionLost, tb.SEND_FAILED),
                             (lambda: tap_client.get_tdo(8), tb.Error, tb.NOTHING_HELD)]:
        with pytest.raises(kind) as failure:
            call()
        assert (failure.value.code, failure.value.status) == (code, tap_client.status)
        assert failure.value.args[0].startswith(str(code))


@pytest.mark.tapbroker(faults="5 1 delay 2000\n")
def test_a_waiting_call_lets_other_threads_run(tapbroker, tap_client):
    waiting = threading.Thread(target=tap_client.send, args=(5, 7))
    waiting.start()
    # Without the GIL released, this thread would not run again until the delayed call is over.
    while waiting.is_alive() and not any("fault fires" in line for line in tapbroker.trace):
        time.sleep(0.01)
    with tb.Client("other") as other:
        other.send(1)
    waiting.join()
    # Who was answered, in order: the other client's last answer came before the delayed one.
    answered = [line.split()[1] for line in tapbroker.trace if "-> " in line and "answer:" in line]
    assert answered[-2:] == ["#2", "#1"]


def test_the_first_bench_of_the_guide(tapbroker, capsys):
    guide = (ROOT / "docs/python.md").read_text()
    bench = re.search(r"```python\n(.*?)```", guide, re.S).group(1)
    assert len(bench.splitlines()) <= 20
    exec(bench, {})
    assert "flash verified" in capsys.readouterr().out


def test_python_and_cpp_record_the_same_transcript(tapbroker, tmp_path, monkeypatch):
    monkeypatch.setenv("TAPBROKER_CLIENT_RECORD", str(tmp_path / "python.txt"))
    with tb.Client("tapclient") as c:
        assert [c.send(4, "sim-usb", "port0", 0), c.send(33), c.send(8)] == [0, 0, 2]
        c.read_list(), c.read_text()
    monkeypatch.delenv("TAPBROKER_CLIENT_RECORD")
    subprocess.run([Path(tb.broker_dir()) / "tapclient", "--record", tmp_path / "cpp.txt",
                    "send", "--open", "8", "--read", "list", "--read", "text"],
                   check=True, stdout=subprocess.DEVNULL)
    assert (tmp_path / "python.txt").read_bytes() == (tmp_path / "cpp.txt").read_bytes()
