// Readies a headless GNOME Shell for the suite, whose checks read the
// screen back: nothing of the shell's over the windows, and each window at
// the top-left corner, where the checks expect it (as in the KWin session).
// Once ready it owns the bus name org.ombrelgl.SessionReady.
import Gio from 'gi://Gio';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

export default class OmbrelSession extends Extension {
    enable() {
        // The shell starts in its overview, with an animation of its own:
        // the screen is cleared once that is over.
        if (Main.layoutManager._startingUp)
            this._started = Main.layoutManager.connect('startup-complete', () => this._clear());
        else
            this._clear();
    }

    _clear() {
        // The overview would hold the windows, the top bar cover their first
        // rows and keep them below it; banners (root's session has one at
        // once) cover more.
        Main.overview.hide();
        Main.layoutManager.untrackChrome(Main.layoutManager.panelBox);
        Main.layoutManager.panelBox.hide();
        Main.messageTray.bannerBlocked = true;
        // The suite reads the screen back with the shell's screenshot call,
        // which it answers only to the programs it trusts (a list each
        // release changes) or in unsafe mode.
        global.context.unsafe_mode = true;
        this._created = global.display.connect('window-created', (display, window) => {
            const actor = window.get_compositor_private();
            const shown = actor.connect('first-frame', () => {
                actor.disconnect(shown);
                window.move_frame(false, 0, 0);
            });
        });
        this._ready = Gio.bus_own_name(Gio.BusType.SESSION, 'org.ombrelgl.SessionReady',
            Gio.BusNameOwnerFlags.NONE, null, null, null);
    }

    disable() {
        if (this._started)
            Main.layoutManager.disconnect(this._started);
        if (!this._ready)
            return;
        Gio.bus_unown_name(this._ready);
        global.context.unsafe_mode = false;
        global.display.disconnect(this._created);
        Main.messageTray.bannerBlocked = false;
        Main.layoutManager.panelBox.show();
        Main.layoutManager.trackChrome(Main.layoutManager.panelBox, {affectsStruts: true, trackFullscreen: true});
    }
}
