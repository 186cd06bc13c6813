#!/usr/bin/env python3
"""Resizes or maximises a window as its compositor does when a person drags
its edge or double-clicks its title bar: windowsize.py kwin|gnome TITLE
(WIDTHxHEIGHT|maximize). Sizes are the desktop's logical pixels; the window
keeps its top-left corner. Exits 1 where no window has that title.

KWin runs a script of its own for it; GNOME Shell evaluates it, which the
suite's session allows (tools/gnome/ombrel-session@ombrel-gl).
"""
import json
import os
import sys
import tempfile
import time

from gi.repository import Gio, GLib

kind, title, size = sys.argv[1:4]
maximize = size == 'maximize'
width, height = (0, 0) if maximize else (int(n) for n in size.split('x'))
bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(name, path, interface, method, arguments, reply):
    return bus.call_sync(name, path, interface, method, arguments, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, 20000, None).unpack()


if kind == 'kwin':
    # The script says what it found through its own D-Bus call back: a
    # script's return value is not KWin's reply.
    found = {'count': 0}
    loop = GLib.MainLoop()
    node = Gio.DBusNodeInfo.new_for_xml(
        '<node><interface name="org.ombrelgl.Found"><method name="Count"><arg type="i" direction="in"/></method>'
        '</interface></node>')

    def counted(connection, sender, path, interface, method, parameters, invocation):
        found['count'] = parameters.unpack()[0]
        invocation.return_value(None)
        loop.quit()

    Gio.bus_own_name_on_connection(bus, 'org.ombrelgl.Found', Gio.BusNameOwnerFlags.NONE, None, None)
    bus.register_object('/Found', node.interfaces[0], counted, None, None)

    def run(change):
        found['count'] = -1
        script = ('let n = 0;\nfor (const w of workspace.windowList()) {\n'
                  '    if (w.caption !== %s) continue;\n    %s\n    ++n;\n}\n'
                  'callDBus("org.ombrelgl.Found", "/Found", "org.ombrelgl.Found", "Count", n);\n') % (json.dumps(title), change)
        with tempfile.NamedTemporaryFile('w', suffix='.js') as file:
            file.write(script)
            file.flush()
            name = 'ombrel-windowsize-%d' % os.getpid()
            number, = call('org.kde.KWin', '/Scripting', 'org.kde.kwin.Scripting', 'loadScript',
                           GLib.Variant('(ss)', (file.name, name)), '(i)')
            call('org.kde.KWin', '/Scripting/Script%d' % number, 'org.kde.kwin.Script', 'run', None, '()')
            # KWin's call back, or 20 s.
            waited = GLib.timeout_add_seconds(20, loop.quit)
            loop.run()
            if found['count'] >= 0:
                GLib.source_remove(waited)
            call('org.kde.KWin', '/Scripting', 'org.kde.kwin.Scripting', 'unloadScript', GLib.Variant('(s)', (name,)), '(b)')
        return max(found['count'], 0)

    change = ('w.setMaximize(true, true);' if maximize else
              'w.frameGeometry = {x: w.frameGeometry.x, y: w.frameGeometry.y, width: %d, height: %d};' % (width, height))
elif kind == 'gnome':
    # GNOME 49 dropped maximize()'s flags.
    change = ('(Meta.MaximizeFlags ? w.maximize(Meta.MaximizeFlags.BOTH) : w.maximize())' if maximize else
              'w.move_resize_frame(true, w.get_frame_rect().x, w.get_frame_rect().y, %d, %d)' % (width, height))

    def run(change):
        code = ('const Meta = imports.gi.Meta; global.get_window_actors().map(a => a.meta_window)'
                '.filter(w => w.get_title() === %s).map(w => %s).length') % (json.dumps(title), change)
        done, count = call('org.gnome.Shell', '/org/gnome/Shell', 'org.gnome.Shell', 'Eval', GLib.Variant('(s)', (code,)), '(bs)')
        if not done:
            sys.exit('GNOME Shell did not evaluate it: %s' % count)
        return int(count)
else:
    sys.exit('usage: windowsize.py kwin|gnome TITLE (WIDTHxHEIGHT|maximize)')

# A window that has drawn its first frame may not be the compositor's yet
# (its first buffer still on its way): it is waited for, up to 10 s, by
# asking for it with no change, and then changed once.
deadline = time.monotonic() + 10
while run('w') == 0 and time.monotonic() < deadline:
    time.sleep(0.05)
sys.exit(0 if run(change) > 0 else 1)
