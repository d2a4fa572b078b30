"""Progress of kelmar.batch and stopping it: the callback's reports, an
exception of the callback, and Ctrl-C while the batch runs without one.

Run by ctest as test_kelmar.py is, with the examples of KELMAR_EXAMPLES.
"""
import _thread
import os
import signal
import threading

import pandas as pd
import pytest

import kelmar

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
