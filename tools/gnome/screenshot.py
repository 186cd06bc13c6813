#!/usr/bin/env python3
"""Writes GNOME Shell's screen, at its device pixels, to standard output as PNG.

The shell answers its screenshot call here because the suite's session runs
it in unsafe mode (tools/gnome/ombrel-session@ombrel-gl).
"""
import os
import sys
import tempfile

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
with tempfile.TemporaryDirectory() as folder:
    path = os.path.join(folder, 'screen.png')
    done, = bus.call_sync('org.gnome.Shell.Screenshot', '/org/gnome/Shell/Screenshot', 'org.gnome.Shell.Screenshot',
                          'Screenshot', GLib.Variant('(bbs)', (False, False, path)), GLib.VariantType('(bs)'),
                          Gio.DBusCallFlags.NONE, 20000, None).unpack()[:1]
    if not done:
        sys.exit('GNOME Shell took no screenshot')
    with open(path, 'rb') as shot:
        sys.stdout.buffer.write(shot.read())
