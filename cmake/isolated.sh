#!/bin/sh
# Runs a command in a network namespace of its own, with its own loopback (127.0.0.1) up.
# Servers that a test starts on the build's fixed port, and the abstract sockets of its X
# server, then meet no other test's: tests that serve on one port can run side by side.
# Needs root (the test build checks that it works before it uses it).
#   cmake/isolated.sh COMMAND [ARGUMENT...]
set -eu
exec unshare --net sh -c 'ip link set lo up && exec "$@"' isolated "$@"
