"""The tapbroker_client library for Python: drive a programming cable through the local
broker (tapbroker.exe) over one lock-step conversation with 127.0.0.1:4001.

    import tapbroker_client as tb
    with tb.Client("bench") as c:          # connects; disconnects at the end of the block
        c.send(4, "sim-usb", "port0", 0)    # the broker's answer (here the cable's grant)

A failure of the library raises Error (ConnectionLost, ArgumentRefused); whatever the broker
answers, negative numbers included, is returned. Linux only for now.
"""
import os as _os
from pathlib import Path as _Path

from ._core import *  # noqa: F401,F403  (Client, Error and its kinds, the result codes)
from ._core import Client as _Client

BROKER = "tapbroker.exe"


def broker_dir():
    """Where this package's own tapbroker.exe lies: $TAPBROKER_INSTALL_DIR when set, else
    beside the package or in the bin/ of a directory above it (the build tree's bin/, the
    installation prefix's bin/); None when there is none."""
    chosen = _os.environ.get("TAPBROKER_INSTALL_DIR")
    if chosen:
        return chosen
    here = _Path(__file__).resolve().parent
    for place in [here] + [parent / "bin" for parent in here.parents]:
        if (place / BROKER).is_file():
            return str(place)
    return None


class Client(_Client):
    __doc__ = _Client.__doc__

    def connect(self, log_file=None, install_dir=None):
        """Connects to the broker on 127.0.0.1:4001 and introduces this client; when none
        runs, starts tapbroker.exe from `install_dir`, by default this package's own (see
        broker_dir()). Raises Error on failure."""
        super().connect(log_file, install_dir if install_dir is not None else broker_dir())

    def __enter__(self):
        self.connect()
        return self

    def __exit__(self, kind, error, traceback):
        try:
            self.disconnect()
        except Error:  # noqa: F405
            # The block's own exception says more than the closing that followed it.
            if kind is None:
                raise
        return False
