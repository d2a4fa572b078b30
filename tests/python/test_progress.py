"""Progress of kelmar.batch and stopping it: the callback's reports, an
exception of the callback, and Ctrl-C while the batch runs without one;
Ctrl-C stopping an ensemble and the sites on Dask workers.

Run by ctest as test_kelmar.py is, with the examples of KELMAR_EXAMPLES.
"""
import _thread
import os
import signal
import threading
import time

import pandas as pd
import pytest

import kelmar
import kelmar.dask
from dask_cluster import local_client

EXAMPLES = os.environ["KELMAR_EXAMPLES"]
SITE = os.path.join(EXAMPLES, "soil.sit")
CLIMATE = os.path.join(EXAMPLES, "climat.cld")


def sites(count, broken=()):
    """A list of simulated sites; those at `broken` lack their climatology."""
    return pd.DataFrame([dict(site_id=f"s{i}", site_file=SITE, climate_file="absent.cld" if i in broken else CLIMATE)
                         for i in range(count)])


class Stop(Exception):
    pass


def test_progress_reports_every_site_in_order_and_changes_nothing():
    frame = sites(6, broken={2})
    reports = []
    result = kelmar.batch(frame, seed=3, jobs=2, progress=lambda *report: reports.append(report))
    assert reports[0] == (0, 0, 6), f"the first report is not the start: {reports[:2]}"
    assert [done for done, _, _ in reports] == list(range(7)), f"not one report per site, in order: {reports}"
    assert all(total == 6 for _, _, total in reports)
    failed = [f for _, f, _ in reports]
    assert failed == sorted(failed) and failed[-1] == 1, f"the failed site is not counted once: {reports}"
    plain = kelmar.batch(frame, seed=3, jobs=1)
    for kind in ("monthly", "annual", "errors"):
        pd.testing.assert_frame_equal(getattr(result, kind), getattr(plain, kind), check_exact=True, obj=kind)


# (what stops the batch, the callback given the number of sites done): an
# exception of the callback, and Ctrl-C arriving while it runs.
def raising(done):
    if done == 2:
        raise Stop("enough")


def interrupting(done):
    if done == 2:
        _thread.interrupt_main()  # as the terminal's Ctrl-C


@pytest.mark.parametrize("callback,expected", [(raising, Stop), (interrupting, KeyboardInterrupt)],
                         ids=["exception", "ctrl-c"])
def test_a_callback_that_stops_raises_its_exception_and_is_called_no_more(callback, expected):
    frame = sites(12)
    calls = []

    def progress(done, failed, total):
        calls.append(done)
        callback(done)

    with pytest.raises(expected):
        kelmar.batch(frame, seed=9, jobs=1, progress=progress)
    assert calls == [0, 1, 2], f"the callback was called after it stopped the batch: {calls}"
    # Nothing of the stopped batch lasts: the same batch runs whole afterwards.
    again = kelmar.batch(frame, seed=9, jobs=2)
    assert len(again.annual.site_id.unique()) == 12 and again.errors.empty


def test_ctrl_c_stops_a_batch_without_a_callback():
    # A handler of our own in place of Python's (which raises
    # KeyboardInterrupt and would end pytest itself if the signal came late).
    class Interrupted(Exception):
        pass

    def handler(signum, frame):
        raise Interrupted()

    previous = signal.signal(signal.SIGINT, handler)
    timer = threading.Timer(0.3, _thread.interrupt_main)
    try:
        timer.start()
        # Far more sites than run in 0.3 s on one thread.
        with pytest.raises(Interrupted):
            kelmar.batch(sites(2000), seed=1, jobs=1)
    finally:
        timer.cancel()
        timer.join()
        signal.signal(signal.SIGINT, previous)


class Interrupted(Exception):
    pass


def interrupted(call, after):
    """Runs `call` with Ctrl-C (a real SIGINT, which also wakes a thread
    waiting on a lock) sent `after` seconds in, under a handler of our own
    in place of Python's (whose KeyboardInterrupt would end pytest itself if
    the signal came late). Gives the seconds from the signal to the end of
    the call, which must raise Interrupted."""
    def handler(signum, frame):
        raise Interrupted()

    sent = []

    def send():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    previous = signal.signal(signal.SIGINT, handler)
    timer = threading.Timer(after, send)
    try:
        timer.start()
        with pytest.raises(Interrupted):
            call()
        ended = time.monotonic()
    finally:
        timer.cancel()
        timer.join()
        signal.signal(signal.SIGINT, previous)
    assert sent, "the call ended before Ctrl-C"
    return ended - sent[0]


def seconds_of(call):
    start = time.monotonic()
    call()
    return time.monotonic() - start


@pytest.mark.parametrize("summary", [False, True], ids=["tables", "summary"])
def test_ctrl_c_stops_an_ensemble_promptly(summary):
    per_replicate = seconds_of(lambda: kelmar.simulate(SITE, CLIMATE, seed=1, replicates=20, jobs=1,
                                                       summary=summary)) / 20
    replicates = 2000  # far more than run in the half second before Ctrl-C
    late = interrupted(lambda: kelmar.simulate(SITE, CLIMATE, seed=1, replicates=replicates, jobs=1,
                                               summary=summary), 0.5)
    assert late < per_replicate * replicates / 4, \
        f"the ensemble ended {late:.1f} s after Ctrl-C; all of it takes about {per_replicate * replicates:.1f} s"


def test_ctrl_c_stops_the_sites_on_the_dask_workers():
    with local_client(1, processes=True) as client:
        count = 1000  # far more sites than run in the second before Ctrl-C
        per_site = seconds_of(lambda: kelmar.batch(sites(20), seed=1, jobs=1)) / 20
        interrupted(lambda: kelmar.dask.simulate_sites(sites(count), client=client, seed=1, jobs=1), 1.0)
        # The worker's one thread is free again once the part has stopped.
        free = seconds_of(lambda: client.submit(time.monotonic, pure=False).result(timeout=120))
        assert free < per_site * count / 4, \
            f"the worker went on {free:.1f} s after Ctrl-C; the sites take about {per_site * count:.1f} s"
