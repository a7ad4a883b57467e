#!/usr/bin/python3
"""An IP camera for the tests: H.264 over RTSP on 127.0.0.1 behind basic
authentication. Usage: rtspserver.py PORT USER PASSWORD. Prints "ready" once
it listens; runs until killed."""
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

port, user, password = sys.argv[1], sys.argv[2], sys.argv[3]
Gst.init(None)
server = GstRtspServer.RTSPServer()
server.set_address("127.0.0.1")
server.set_service(port)

factory = GstRtspServer.RTSPMediaFactory()
factory.set_launch(
    "( videotestsrc is-live=true pattern=ball ! video/x-raw,width=320,height=240,framerate=10/1 "
    "! x264enc tune=zerolatency speed-preset=ultrafast key-int-max=10 "
    "! rtph264pay name=pay0 pt=96 )")
factory.set_shared(True)
factory.add_role_from_structure(Gst.Structure.new_from_string(
    f"{user}, media.factory.access=(boolean)true, media.factory.construct=(boolean)true"))

auth = GstRtspServer.RTSPAuth()
token = GstRtspServer.RTSPToken()
token.set_string("media.factory.role", user)
auth.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
server.set_auth(auth)

server.get_mount_points().add_factory("/cam", factory)
if server.attach(None) == 0:
    sys.exit("cannot listen on port " + port)
print("ready", flush=True)
GLib.MainLoop().run()
