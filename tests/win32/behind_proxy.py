#!/usr/bin/env python3
"""behind_proxy.py COMMAND [ARG...]: runs the command beside a proxy on 127.0.0.1 that asks for
a Basic login, Debian's squid with basic_ncsa_auth, whose configuration, password file, logs and
pid file lie in a temporary folder. The command finds it at VARNEK_TEST_PROXY (127.0.0.1:PORT).
Afterwards the proxy is stopped by its process id; the exit code is the command's, or 1 when
the proxy could not start."""

import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HELPER = "/usr/lib/squid/basic_ncsa_auth"


def start(folder: str):
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    password = subprocess.run(["openssl", "passwd", "-apr1", "not-the-users"], check=True,
                              capture_output=True, text=True).stdout.strip()
    with open(f"{folder}/passwords", "w") as f:
        f.write(f"technician:{password}\n")
    config = [f"http_port 127.0.0.1:{port}", f"pid_filename {folder}/squid.pid",
              f"cache_log {folder}/cache.log", f"access_log stdio:{folder}/access.log",
              f"coredump_dir {folder}", "cache deny all", "cache_mem 8 MB", "pinger_enable off",
              "netdb_filename none", "shutdown_lifetime 0 seconds",
              "dns_nameservers 127.0.0.1",  # nothing leaves the machine
              f"auth_param basic program {HELPER} {folder}/passwords",
              "acl login proxy_auth REQUIRED", "http_access allow login", "http_access deny all"]
    if os.geteuid() == 0:  # squid then runs as the user proxy, which writes into the folder
        config.append("cache_effective_user proxy")
        os.chown(folder, pwd.getpwnam("proxy").pw_uid, pwd.getpwnam("proxy").pw_gid)
    with open(f"{folder}/squid.conf", "w") as f:
        f.write("\n".join(config) + "\n")
    squid = subprocess.Popen([shutil.which("squid") or "/usr/sbin/squid", "-N", "-f",
                              f"{folder}/squid.conf"], stdin=subprocess.DEVNULL,
                             stdout=open(f"{folder}/squid.out", "w"), stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 60
    while squid.poll() is None and time.monotonic() < deadline:
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", port)) == 0:
                return squid, port
        time.sleep(0.1)
    stop(squid)
    with open(f"{folder}/squid.out") as f:
        raise RuntimeError(f"squid did not start on 127.0.0.1:{port}:\n{f.read()[-2000:]}")


def stop(squid: subprocess.Popen) -> None:
    squid.terminate()
    try:
        squid.wait(30)
    except subprocess.TimeoutExpired:
        squid.kill()
        squid.wait()


def main() -> int:
    folder = tempfile.mkdtemp(prefix="varnek-proxy-")
    os.chmod(folder, 0o755)
    try:
        try:
            squid, port = start(folder)
        except (RuntimeError, OSError, subprocess.CalledProcessError) as error:
            print(f"behind_proxy: {error}", file=sys.stderr)
            return 1
        print(f"behind_proxy: squid (pid {squid.pid}) on 127.0.0.1:{port}", flush=True)
        try:
            return subprocess.call(sys.argv[1:],
                                   env=dict(os.environ, VARNEK_TEST_PROXY=f"127.0.0.1:{port}"))
        finally:
            stop(squid)
            if os.path.exists(f"{folder}/access.log"):
                with open(f"{folder}/access.log", errors="replace") as f:
                    print("behind_proxy: what the proxy saw:\n" + f.read(), end="", flush=True)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
