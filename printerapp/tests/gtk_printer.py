#!/usr/bin/env python3
"""Prints, as one JSON line, what GTK 3's print system (its CUPS backend, the
one the print dialog lists printers from) makes of a queue of the scheduler
CUPS_SERVER names: the state message and icon the dialog shows.

    gtk_printer.py QUEUE        (needs DISPLAY; exit 77 when GTK cannot start)

Debian's Gtk-3.0 typelib leaves out the Unix printing API (GtkPrinter,
GtkPrintUnixDialog): those calls go to the same libgtk-3 through ctypes.
"""
import ctypes
import json
import sys


def main():
    try:
        import gi
        gi.require_version("Gtk", "3.0")
        from gi.repository import Gtk
    except (ImportError, ValueError) as e:
        print(f"GTK 3 through python3-gi is not available: {e}")
        return 77
    ok, _ = Gtk.init_check(sys.argv)
    if not ok:
        print("GTK cannot open the display")
        return 77
    queue = sys.argv[1].encode()
    gtk = ctypes.CDLL("libgtk-3.so.0")
    for name in ("gtk_printer_get_name", "gtk_printer_get_state_message", "gtk_printer_get_icon_name"):
        getattr(gtk, name).restype = ctypes.c_char_p
        getattr(gtk, name).argtypes = [ctypes.c_void_p]
    for name in ("gtk_printer_is_virtual", "gtk_printer_is_paused", "gtk_printer_is_accepting_jobs"):
        getattr(gtk, name).argtypes = [ctypes.c_void_p]
    gtk.g_object_ref.restype = ctypes.c_void_p
    gtk.g_object_ref.argtypes = [ctypes.c_void_p]
    gtk.g_object_unref.argtypes = [ctypes.c_void_p]
    chosen = []

    @ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
    def seen(printer, _data):
        if gtk.gtk_printer_get_name(printer) == queue and not gtk.gtk_printer_is_virtual(printer):
            chosen.append(gtk.g_object_ref(printer))
        return 0  # go on: the list is done only once every backend has answered

    gtk.gtk_enumerate_printers.argtypes = [type(seen), ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]
    # Waits until every backend has listed its printers. A printer is
    # announced before its state is filled in: read it afterwards.
    gtk.gtk_enumerate_printers(seen, None, None, 1)
    found = {}
    for printer in chosen[:1]:
        found.update(message=(gtk.gtk_printer_get_state_message(printer) or b"").decode(),
                     icon=(gtk.gtk_printer_get_icon_name(printer) or b"").decode(),
                     paused=bool(gtk.gtk_printer_is_paused(printer)),
                     accepting=bool(gtk.gtk_printer_is_accepting_jobs(printer)))
    if not found:
        print(json.dumps({"error": f"GTK lists no printer {queue}"}))
        return 1
    print(json.dumps(found, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main())
