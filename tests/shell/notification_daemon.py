# A desktop notification daemon for tests: owns org.freedesktop.Notifications
# on the session bus it is given and appends each notification it receives,
# as one JSON line, to the file named by its first argument. Writes
# "<file>.ready" once the name is owned.
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

OUT = sys.argv[1]


class Notifications(dbus.service.Object):
    next_id = 1

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, icon, summary, body, actions, hints, timeout):
        with open(OUT, "a") as f:
            f.write(json.dumps({"app": str(app_name), "summary": str(summary), "body": str(body)}) + "\n")
        self.next_id += 1
        return self.next_id

    @dbus.service.method("org.freedesktop.Notifications", in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method("org.freedesktop.Notifications", in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("tarno-test", "tarno", "1", "1.2")

    @dbus.service.method("org.freedesktop.Notifications", in_signature="u", out_signature="")
    def CloseNotification(self, notification_id):
        pass


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.Notifications", bus)
Notifications(bus, "/org/freedesktop/Notifications")
open(OUT + ".ready", "w").close()
GLib.MainLoop().run()
