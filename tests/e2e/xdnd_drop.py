"""Drops files onto an X window with the XDND protocol, the way a Linux file manager does.

Wine turns such a drop on a window that accepts files into WM_DROPFILES, as Explorer's drops
arrive on Windows. Only libX11 is needed, through ctypes.
"""

import ctypes
import ctypes.util
import time
from urllib.parse import quote

_X = None

Window = Atom = Time = ctypes.c_ulong
SELECTION_REQUEST, SELECTION_NOTIFY, CLIENT_MESSAGE = 30, 31, 33
XDND_VERSION = 5


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", Window), ("message_type", Atom),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class _SelectionRequest(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("owner", Window), ("requestor", Window),
                ("selection", Atom), ("target", Atom), ("property", Atom), ("time", Time)]


class _SelectionNotify(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", Window), ("selection", Atom),
                ("target", Atom), ("property", Atom), ("time", Time)]


class _Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("client", _ClientMessage),
                ("request", _SelectionRequest), ("notify", _SelectionNotify),
                ("pad", ctypes.c_long * 24)]


def _xlib():
    global _X
    if _X is None:
        x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = Window
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XCreateSimpleWindow.restype = Window
        x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_int,
                                          ctypes.c_uint, ctypes.c_uint, ctypes.c_uint,
                                          ctypes.c_ulong, ctypes.c_ulong]
        x.XInternAtom.restype = Atom
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XSetSelectionOwner.argtypes = [ctypes.c_void_p, Atom, Window, Time]
        x.XSendEvent.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_long,
                                 ctypes.c_void_p]
        x.XFlush.argtypes = [ctypes.c_void_p]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XChangeProperty.argtypes = [ctypes.c_void_p, Window, Atom, Atom, ctypes.c_int,
                                      ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        x.XDestroyWindow.argtypes = [ctypes.c_void_p, Window]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        _X = x
    return _X


def file_uri(path):
    return "file://" + quote(str(path))


def drop_files(display, target, x, y, paths, timeout=20):
    """Drags `paths` over X window `target` to the root position (x, y) and drops them there.

    Returns "dropped" when the target took and finished the drop, "refused" when it would
    not take it, None when it did not answer in time. The drop's data (text/uri-list) is
    served to the target whenever it asks for it.
    """
    x11 = _xlib()
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise RuntimeError("cannot open display " + display)
    try:
        def atom(name):
            return x11.XInternAtom(dpy, name.encode(), 0)

        source = x11.XCreateSimpleWindow(dpy, x11.XDefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0)
        uri_list = atom("text/uri-list")
        data = "".join(file_uri(p) + "\r\n" for p in paths).encode()
        x11.XSetSelectionOwner(dpy, atom("XdndSelection"), source, 0)

        def send(name, *longs):
            event = _Event()
            event.client.type = CLIENT_MESSAGE
            event.client.window = target
            event.client.message_type = atom(name)
            event.client.format = 32
            for i, value in enumerate(longs):
                event.client.l[i] = value
            x11.XSendEvent(dpy, target, 0, 0, ctypes.byref(event))
            x11.XFlush(dpy)

        def answer(request):
            reply = _Event()
            reply.notify.type = SELECTION_NOTIFY
            reply.notify.requestor = request.requestor
            reply.notify.selection = request.selection
            reply.notify.target = request.target
            reply.notify.time = request.time
            if request.target == uri_list:
                x11.XChangeProperty(dpy, request.requestor, request.property, uri_list, 8, 0,
                                    data, len(data))
                reply.notify.property = request.property
            x11.XSendEvent(dpy, request.requestor, 0, 0, ctypes.byref(reply))
            x11.XFlush(dpy)

        def wait_for(name):
            end = time.monotonic() + timeout
            while time.monotonic() < end:
                if not x11.XPending(dpy):
                    time.sleep(0.01)
                    continue
                event = _Event()
                x11.XNextEvent(dpy, ctypes.byref(event))
                if event.type == SELECTION_REQUEST:
                    answer(event.request)
                elif event.type == CLIENT_MESSAGE and event.client.message_type == atom(name):
                    return list(event.client.l)
            return None

        send("XdndEnter", source, XDND_VERSION << 24, uri_list, 0, 0)
        send("XdndPosition", source, 0, (x << 16) | y, 0, atom("XdndActionCopy"))
        status = wait_for("XdndStatus")
        if status is None:
            return None
        if not status[1] & 1:
            send("XdndLeave", source, 0)
            return "refused"
        send("XdndDrop", source, 0, 0)
        result = "dropped" if wait_for("XdndFinished") is not None else None
        x11.XDestroyWindow(dpy, source)
        return result
    finally:
        x11.XCloseDisplay(dpy)
