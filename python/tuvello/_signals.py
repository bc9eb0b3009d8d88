# SPDX-License-Identifier: MIT
"""Holding back Python's signal handlers while a library result is in hand."""

import signal
import threading

try:
    # The C functions: signal.getsignal() of a Python handler costs fifty times more.
    from _signal import SIG_DFL, getsignal, signal as setsignal
except ImportError:  # pragma: no cover - other interpreters
    SIG_DFL, getsignal, setsignal = signal.SIG_DFL, signal.getsignal, signal.signal

_SIGNALS = tuple(sorted(signal.valid_signals()))


class SignalsHeld:
    """Holds back the Python signal handlers (KeyboardInterrupt's above all)
    while something the library made is only a number on its way to where it
    is freed, while the library walks a song, or while a temporary file
    exists: an exception there would lose the image, be swallowed by ctypes
    or cut a clean-up short. Handlers run in the main thread only, so
    elsewhere there is nothing to hold.

    hold() swaps every Python handler for _note(), and, for the signals in
    ends left to end the process, a handler that raises Ended instead, so
    that a clean-up runs first. run_arrived() runs the handlers of what
    arrived meanwhile (a visitor calls it, so that a KeyboardInterrupt still
    stops a walk at once); release() runs them too and puts the handlers
    back. Call hold() inside the try whose finally calls release(). A _note()
    left in place by a signal that cut release() short does what the handler
    it replaced would have done."""

    def __init__(self):
        self.holding = False
        self.restore = {}  # signal number: the handler to put back
        self.run = {}  # signal number: the handler to run for it meanwhile
        self.arrived = []

    def hold(self, ends=()):
        if threading.get_ident() != threading.main_thread().ident:
            return
        try:
            self.holding = True
            for number in _SIGNALS:
                handler = getsignal(number)
                if getattr(handler, "__func__", None) is SignalsHeld._note and not handler.__self__.holding:
                    handler = handler.__self__.restore[number]  # left by a release cut short
                if callable(handler):
                    self.restore[number] = self.run[number] = handler
                elif number in ends and handler == SIG_DFL:
                    self.restore[number], self.run[number] = handler, _end
                else:
                    continue
                setsignal(number, self._note)
        except BaseException:
            # A handler not swapped yet raised. Set before anything a signal
            # could cut short, so that what was swapped passes signals on
            # even if release() is cut short in turn.
            self.holding = False
            raise

    def _note(self, number, frame):
        if self.holding:
            self.arrived.append((number, frame))
        elif callable(self.restore[number]):
            self.restore[number](number, frame)
        else:  # the default action, which ends the process
            setsignal(number, SIG_DFL)
            signal.raise_signal(number)

    def run_arrived(self):
        while self.arrived:
            number, frame = self.arrived.pop(0)
            self.run[number](number, frame)

    def release(self):
        self.holding = False
        try:
            self.run_arrived()
        finally:
            for number, handler in self.restore.items():
                if getsignal(number) == self._note:
                    setsignal(number, handler)
            # What arrived after a handler raised goes to the handlers now in
            # place, as Python delivers signals that are pending together.
            arrived, self.arrived = self.arrived, []
            for number, _ in arrived:
                signal.raise_signal(number)


class Ended(BaseException):
    """A signal held while its default action would have ended the process."""


def _end(number, frame):
    raise Ended(number)
