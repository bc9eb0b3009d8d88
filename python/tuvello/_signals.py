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
    is freed, or while the library walks a song: an exception there would
    lose the image or be swallowed by ctypes. Handlers run in the main thread
    only, so elsewhere there is nothing to hold.

    hold() swaps every Python handler for _note(); run_arrived() runs the
    handlers of what arrived meanwhile (a visitor calls it, so that a
    KeyboardInterrupt still stops a walk at once); release() runs them too and
    puts the handlers back. Call hold() inside the try whose finally calls
    release(). A handler left swapped by a signal that cut release() short
    passes its signals straight on."""

    def __init__(self):
        self.holding = False
        self.handlers = {}  # signal number: the handler held back
        self.arrived = []

    def hold(self):
        if threading.get_ident() != threading.main_thread().ident:
            return
        self.holding = True
        for number in _SIGNALS:
            handler = getsignal(number)
            if getattr(handler, "__func__", None) is SignalsHeld._note and not handler.__self__.holding:
                handler = handler.__self__.handlers[number]  # left by a release cut short
            if callable(handler):
                self.handlers[number] = handler
                setsignal(number, self._note)

    def _note(self, number, frame):
        if self.holding:
            self.arrived.append((number, frame))
        else:
            self.handlers[number](number, frame)

    def run_arrived(self):
        while self.arrived:
            number, frame = self.arrived.pop(0)
            self.handlers[number](number, frame)

    def release(self):
        self.holding = False
        try:
            self.run_arrived()
        finally:
            for number, handler in self.handlers.items():
                if getsignal(number) == self._note:
                    setsignal(number, handler)
            # What arrived after a handler raised goes to the handlers now in
            # place, as Python delivers signals that are pending together.
            arrived, self.arrived = self.arrived, []
            for number, _ in arrived:
                signal.raise_signal(number)
