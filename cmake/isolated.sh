#!/bin/sh
# Runs a command in a network namespace of its own, with its own loopback (127.0.0.1) up.
# Servers that a test starts on the build's fixed port, and the abstract sockets of its X
# server, then meet no other test's: tests that serve on one port can run side by side.
# Every X server started so is display :0, and each compiles its keyboard map into
# /var/lib/xkb/server-0.xkm: that folder is the namespace's own too (an empty one in memory),
# or two servers starting at once overwrite each other's map and one of them fails
# ("XKB: Failed to compile keymap").
# Needs root (the test build checks that it works before it uses it).
#   cmake/isolated.sh COMMAND [ARGUMENT...]
set -eu
exec unshare --net --mount sh -c 'mkdir -p /var/lib/xkb &&
    mount -t tmpfs -o size=1m,mode=0755 varnek-xkb /var/lib/xkb &&
    ip link set lo up && exec "$@"' isolated "$@"
