#!/usr/bin/env python3
"""Checks of the test tools against the real thing: Wine in a prefix of its own, Xvfb, the shell,
and the support server on 127.0.0.1.

    python3 tools/test_tools.py BUILD/tools     (or VARNEK_TOOLS_DIR=BUILD/tools)

Needs wine, Xvfb and xdotool. Ends every process it started by its id, then `wineserver -k` for
its own prefix.
"""

import hashlib
import http.client
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
from harness.server import SupportServer as Server  # noqa: E402  (starts support_server.py)

SALT = "8OurOddPepper42"
TOOLS = None  # the built tools, set in main()
ENV = None  # the Wine environment of the module's prefix and display
PREFIX = None
STARTED = []  # Popen objects, ended by pid in tearDownModule
TOOLS_WIN = "C:\\Værktøj"  # where the tools are copied inside the prefix


def wait_until(what, timeout=10.0, step=0.05):
    end = time.monotonic() + timeout
    while True:
        value = what()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


def unix_path(win_path):
    assert win_path[1:3] == ":\\"
    return PREFIX / "drive_c" / win_path[3:].replace("\\", "/")


def start(args, **kwargs):
    p = subprocess.Popen(args, env=ENV, stdin=subprocess.DEVNULL, start_new_session=True,
                         **kwargs)
    STARTED.append(p)
    return p


def stop(p):
    if p.poll() is None:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait(10)


def wine(*args, timeout=60):
    # Output goes to files, not pipes: a Wine process may start the prefix's desktop and
    # services, which keep its handles open long after it ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        r = subprocess.run(["wine", *args], env=ENV, stdout=out, stderr=err, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return r.returncode, out.read().decode("utf-8"), err.read().decode("utf-8", "replace")


def uidriver(*args, timeout=60):
    return wine(TOOLS_WIN + "\\uidriver.exe", *args, timeout=timeout)


def records(*args):
    rc, out, err = uidriver(*args, "--json")
    assert rc == 0, (args, rc, err)
    return [json.loads(line) for line in out.splitlines() if line]


def setUpModule():
    global ENV, PREFIX
    temp = Path(tempfile.mkdtemp(prefix="varnek-tools-"))
    PREFIX = temp / "prefix"
    ENV = dict(os.environ, WINEPREFIX=str(PREFIX), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8")
    ENV.pop("DISPLAY", None)
    read_fd, write_fd = os.pipe()
    xvfb = start(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                  "-nolisten", "tcp"], pass_fds=[write_fd], stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd) as f:
        ENV["DISPLAY"] = ":" + f.readline().strip()
    subprocess.run(["wineboot", "-i"], env=ENV, capture_output=True, timeout=300)
    subprocess.run(["wineserver", "-w"], env=ENV, timeout=300)
    # One wineserver for the whole run, so each tool starts fast.
    subprocess.run(["wineserver", "-p"], env=ENV, timeout=60)
    folder = unix_path(TOOLS_WIN)
    folder.mkdir(parents=True)
    for exe in TOOLS.glob("*.exe"):
        shutil.copy(exe, folder)
    setUpModule.temp = temp
    setUpModule.xvfb = xvfb


def tearDownModule():
    for p in reversed(STARTED):
        if p is not setUpModule.xvfb:
            stop(p)
    subprocess.run(["wineserver", "-k"], env=ENV, timeout=60)
    stop(setUpModule.xvfb)
    shutil.rmtree(setUpModule.temp, ignore_errors=True)


# ---------------------------------------------------------------------------------------------


class UiDriver(unittest.TestCase):
    """uidriver against uitarget's real controls and real message boxes."""

    def setUp(self):
        self.title = "Prøve %s æøå" % self._testMethodName
        self.target = start(["wine", TOOLS_WIN + "\\uitarget.exe", self.title],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rc, out, err = uidriver("wait", "--title", self.title, "--visible", "--timeout", "20000")
        self.assertEqual(rc, 0, err)

    def tearDown(self):
        uidriver("close", "--title", self.title, "--timeout", "0")
        try:
            self.target.wait(10)
        except subprocess.TimeoutExpired:
            stop(self.target)

    def controls(self):
        return {r["id"]: r for r in records("children", "--title", self.title)}

    def text(self, control_id):
        rc, out, err = uidriver("text", "--title", self.title, "--id", str(control_id))
        self.assertEqual(rc, 0, err)
        self.assertTrue(out.endswith("\n"))
        return out[:-1]

    def test_windows_and_rect_report_the_window(self):
        [w] = records("windows", "--title", self.title)
        self.assertEqual((w["class"], w["visible"], w["title"]), ("UiTargetWindow", 1, self.title))
        left, top, right, bottom = w["rect"]
        cl, ct, cr, cb = w["client"]
        self.assertTrue(left <= cl < cr <= right and top <= ct < cb <= bottom, w)
        self.assertEqual((right - left, bottom - top), (400, 290))
        pids = [p["pid"] for p in records("processes", "--name", "uitarget.exe")]
        self.assertIn(w["pid"], pids)
        [r] = records("rect", "--hwnd", w["hwnd"])
        self.assertEqual((r["window"], r["client"], r["dpi"]), (w["rect"], w["client"], 96))
        [button] = records("rect", "--title", self.title, "--text", "Gem")
        bl, bt, br, bb = button["window"]
        self.assertEqual((bl - cl, bt - ct, br - bl, bb - bt), (10, 170, 100, 26))
        rc, out, err = uidriver("rect", "--title", self.title)
        self.assertEqual(out.splitlines()[2], "dpi\t96")
        self.assertEqual(out.splitlines()[0], "window\t%d,%d,%d,%d" % tuple(w["rect"]))

    def test_children_lists_every_control(self):
        c = self.controls()
        self.assertEqual(sorted(c), list(range(100, 112)))
        self.assertEqual((c[100]["class"], c[100]["text"], c[100]["checked"]),
                         ("Button", "Indstillinger", 0))
        # The label is a child of the group box, and its rect is in the window's client area.
        self.assertEqual((c[101]["text"], c[101]["rect"], c[101]["checked"]),
                         ("Brugernavn:", [20, 35, 120, 55], None))
        self.assertEqual((c[104]["checked"], c[105]["checked"], c[106]["checked"]), (0, 1, 0))
        self.assertEqual((c[110]["text"], c[110]["enabled"], c[107]["enabled"]), ("Åbn", 0, 1))
        self.assertEqual(int(c[103]["style"], 16) & 0x20, 0x20)  # ES_PASSWORD
        rc, out, err = uidriver("children", "--title", self.title)
        line = [ln for ln in out.splitlines() if ln.split("\t")[1] == "110"][0]
        self.assertEqual(line.split("\t")[2:6] + line.split("\t")[7:], ["Button", "1", "0", "0",
                                                                      "120,170,220,196", "Åbn"])

    def test_settext_and_type_edit_the_fields(self):
        rc, out, err = uidriver("settext", "--title", self.title, "--id", "102", "Søren Ærø")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.text(102), "Søren Ærø")
        self.assertEqual(self.text(108), "changes=1")  # the edit's own EN_CHANGE, once
        self.assertEqual(uidriver("type", "--title", self.title, "--id", "102", "!å")[0], 0)
        self.assertEqual(self.text(102), "Søren Ærø!å")
        self.assertEqual(self.text(108), "changes=3")
        self.assertEqual(uidriver("type", "--clear", "--title", self.title, "--id", "102", "--",
                                  "--ny")[0], 0)
        self.assertEqual(self.text(102), "--ny")
        self.assertEqual(uidriver("type", "--title", self.title, "--id", "103", "hemmelig½")[0], 0)
        self.assertEqual(self.text(103), "hemmelig½")

    def test_click_changes_state_and_refuses_what_a_user_cannot_click(self):
        for caption in ("Start med Windows", "English"):
            rc, out, err = uidriver("click", "--title", self.title, "--text", caption)
            self.assertEqual((rc, out), (0, "clicked\n"), err)
        c = self.controls()
        self.assertEqual((c[104]["checked"], c[105]["checked"], c[106]["checked"]), (1, 0, 1))
        rc, out, err = uidriver("click", "--title", self.title, "--text", "Åbn")
        self.assertEqual(rc, 1)
        self.assertIn("disabled", err)
        self.assertEqual(self.text(109), "answer=none")

    def test_msgbox_reads_and_answers_a_message_box(self):
        uidriver("settext", "--title", self.title, "--id", "102", "Åse")
        rc, out, err = uidriver("msgbox", "--none", "--timeout", "500")
        self.assertEqual(rc, 0, err + out)
        rc, out, err = uidriver("click", "--title", self.title, "--text", "&Gem")
        self.assertEqual((rc, out), (0, "pending\n"), err)
        [box] = records("msgbox", "--timeout", "10000")
        self.assertEqual(box["title"], "Besked æøå")
        self.assertEqual(box["text"], "Gemt: Åse\r\nLinje 2 med C:\\sti og æøå")
        self.assertEqual(box["buttons"], [{"id": 6, "text": "&Yes"}, {"id": 7, "text": "&No"}])
        rc, out, err = uidriver("msgbox", "--pid", str(box["pid"]))
        self.assertEqual(out.splitlines(), ["Besked æøå", "Gemt: Åse\\r\\nLinje 2 med C:\\\\sti og æøå",
                                            "6\t&Yes", "7\t&No"])
        self.assertEqual(uidriver("msgbox", "--none", "--timeout", "300")[0], 1)
        # The window under a modal box is disabled: no clicks reach it.
        self.assertEqual(uidriver("click", "--title", self.title, "--text", "Gem")[0], 1)
        self.assertEqual(uidriver("msgbox", "--press", "Maybe", "--timeout", "1000")[0], 1)
        self.assertEqual(uidriver("msgbox", "--press", "No")[0], 0)
        self.assertEqual(self.text(109), "answer=7")
        rc, out, err = uidriver("msgbox", "--none", "--timeout", "300")
        self.assertEqual(rc, 0, err + out)
        uidriver("click", "--title", self.title, "--text", "Gem")
        self.assertEqual(uidriver("msgbox", "--press", "6")[0], 0)
        self.assertEqual(self.text(109), "answer=6")

    def test_gui_counts_follows_the_windows_of_another_process(self):
        # Wine answers 0 to GetGuiResources and GetProcessHandleCount: the other ways count.
        [w] = records("windows", "--title", self.title)

        def counts():
            rc, out, err = wine(TOOLS_WIN + "\\gui_counts.exe", str(w["pid"]))
            self.assertEqual(rc, 0, err)
            return json.loads(out)

        before = counts()
        self.assertEqual((before["gdi_source"], before["user_source"], before["handles_source"]),
                         ("handle table", "windows", "system handle list"))
        self.assertGreaterEqual(before["user"], 1 + len(self.controls()))
        self.assertGreater(min(before["gdi"], before["handles"]), 0, before)
        uidriver("click", "--title", self.title, "--text", "&Gem")
        [box] = records("msgbox", "--timeout", "10000")
        box_windows = 1 + len(records("children", "--hwnd", box["hwnd"]))
        self.assertEqual(counts()["user"], before["user"] + box_windows)
        self.assertEqual(uidriver("msgbox", "--press", "No")[0], 0)
        self.assertEqual(self.text(109), "answer=7")  # MessageBox has returned: the box is gone
        self.assertEqual(counts()["user"], before["user"])

    def test_batch_runs_each_command_in_turn_and_stops_at_a_failure(self):
        rc, out, err = uidriver("batch", "settext", "--title", self.title, "--id", "102", "Åse",
                                ";", "click", "--title", self.title, "--text", "English",
                                ";", "text", "--title", self.title, "--id", "102")
        self.assertEqual((rc, out), (0, "clicked\nÅse\n"), err)
        # The second command's options do not carry over from the first: without its own
        # --id it reads the window's caption.
        rc, out, err = uidriver("batch", "text", "--title", self.title, "--id", "102",
                                ";", "text", "--title", self.title)
        self.assertEqual((rc, out), (0, f"Åse\n{self.title}\n"), err)
        rc, out, err = uidriver("batch", "text", "--title", "Ingen sådan", "--timeout", "200",
                                ";", "settext", "--title", self.title, "--id", "102", "Bo")
        self.assertEqual(rc, 1)
        self.assertIn("command 1 failed", err)
        self.assertEqual(self.text(102), "Åse", "a command after the failure ran")
        self.assertEqual(uidriver("batch", "text", "--title", self.title, ";")[0], 2)

    def test_exit_codes_and_waiting(self):
        self.assertEqual(uidriver("frobnicate")[0], 2)
        self.assertEqual(uidriver("text")[0], 2)
        self.assertEqual(uidriver("click", "--title", self.title)[0], 2)
        self.assertEqual(uidriver("text", "--title", self.title, "--id", "x")[0], 2)
        started = time.monotonic()
        rc, out, err = uidriver("text", "--title", "Ingen sådan", "--timeout", "1500")
        self.assertEqual(rc, 1)
        self.assertGreaterEqual(time.monotonic() - started, 1.5)
        self.assertEqual(uidriver("text", "--title", self.title, "--id", "999",
                                  "--timeout", "200")[0], 1)
        self.assertEqual(uidriver("wait", "--title", self.title, "--gone", "--timeout", "300")[0], 1)
        rc, out, err = uidriver("--help")
        self.assertEqual(rc, 0)
        self.assertIn("msgbox", out)

    def test_close_ends_the_program(self):
        self.assertEqual(uidriver("close", "--title", self.title)[0], 0)
        self.assertEqual(uidriver("wait", "--title", self.title, "--gone")[0], 0)
        self.assertEqual(self.target.wait(20), 0)

    @unittest.skipUnless(shutil.which("xdotool"), "xdotool is not installed")
    def test_a_real_click_on_the_tray_icon(self):
        tray = start(["wine", TOOLS_WIN + "\\uitarget.exe", "Bakke æøå", "--tray"],
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(uidriver("wait", "--title", "Bakke æøå", "--visible")[0], 0)
            icons = wait_until(lambda: [c for c in records("children", "--title",
                                                           "Wine System Tray")
                                        if c["class"] == "__winex11_tray_icon"])
            self.assertTrue(icons)
            [r] = records("rect", "--hwnd", icons[-1]["hwnd"])
            x, y = (r["window"][0] + r["window"][2]) // 2, (r["window"][1] + r["window"][3]) // 2
            subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=ENV,
                           check=True)
            seen = wait_until(lambda: uidriver("text", "--title", "Bakke æøå", "--id",
                                               "111")[1].strip().endswith("513,514,"))
            self.assertTrue(seen)
        finally:
            uidriver("close", "--title", "Bakke æøå", "--timeout", "0")
            tray.wait(20)


class StandIns(unittest.TestCase):
    """The stand-ins of the remote-control clients, started as the program starts them."""

    def setUp(self):
        self.folder = "C:\\Varnek Prøve %s" % self._testMethodName
        unix_path(self.folder).mkdir()

    def log(self, name):
        path = unix_path(self.folder + "\\" + name)
        if not path.exists():
            return []
        return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines()]

    def test_client_records_how_the_shell_started_it(self):
        shutil.copy(TOOLS / "standin_client.exe",
                    unix_path(self.folder + "\\Varnek_TeamViewer.exe"))
        rc, out, err = wine(TOOLS_WIN + "\\shellexec.exe", "--verb", "Open", "--dir",
                            self.folder + "\\", "--show", "5", "Varnek_TeamViewer.exe", "")
        self.assertEqual(rc, 0, out + err)
        self.assertGreater(int(out), 32)
        [entry] = wait_until(lambda: self.log("Varnek_TeamViewer.log"))
        exe = self.folder + "\\Varnek_TeamViewer.exe"
        self.assertEqual((entry["cwd"], entry["show"], entry["exe"]), (self.folder, 5, exe))
        self.assertEqual(entry["cmdline"].strip(), '"%s"' % exe)
        self.assertIsInstance(entry["pid"], int)

    def test_client_keeps_every_line_of_starts_at_the_same_moment(self):
        exe = self.folder + "\\Varnek_TeamViewer.exe"
        shutil.copy(TOOLS / "standin_client.exe", unix_path(exe))
        starts = [start(["wine", exe, "nr %d" % i, "ø&%1 x"]) for i in range(12)]
        self.assertEqual([p.wait(60) for p in starts], [0] * 12)
        entries = self.log("Varnek_TeamViewer.log")
        self.assertEqual(len(entries), 12)
        self.assertEqual(len({e["pid"] for e in entries}), 12)
        self.assertEqual(sorted(e["cmdline"] for e in entries),
                         sorted('"%s" "nr %d" "ø&%%1 x"' % (exe, i) for i in range(12)))

    def test_teamviewer_stays_until_ended_and_can_be_found_by_name(self):
        exe = self.folder + "\\TeamViewer.exe"
        shutil.copy(TOOLS / "standin_teamviewer.exe", unix_path(exe))
        p = start(["wine", exe])
        [entry] = wait_until(lambda: self.log("TeamViewer.log"))
        self.assertEqual(entry["exe"], exe)
        running = records("processes", "--name", "teamviewer.exe")
        self.assertIn(entry["pid"], [r["pid"] for r in running])
        time.sleep(1)
        self.assertIsNone(p.poll())
        rc, out, err = wine("taskkill", "/pid", str(entry["pid"]), "/f")
        self.assertEqual(rc, 0, out + err)
        self.assertEqual(uidriver("processes", "--pid", str(entry["pid"]), "--gone")[0], 0)
        p.wait(20)
        quick = start(["wine", exe, "1"])
        self.assertEqual(quick.wait(30), 0)

    def test_browser_recorder_gets_the_exact_address(self):
        recorder = TOOLS_WIN + "\\browser_recorder.exe"
        subprocess.run([str(HERE / "install-browser-recorder.sh"), str(PREFIX), recorder],
                       env=ENV, check=True, timeout=60)
        urls = ["http://127.0.0.1:18080/x?a=b&c=%C3%B8",
                "https://127.0.0.1:18080/AppLogin.asp?Username=S%C3%B8ren%20%26%22x%22&Password=%25"]
        for url in urls:
            rc, out, err = wine(TOOLS_WIN + "\\shellexec.exe", url)
            self.assertEqual(rc, 0, out + err)
        log = unix_path(TOOLS_WIN + "\\browser_recorder.log")

        def logged():
            lines = log.read_text(encoding="utf-8").splitlines() if log.exists() else []
            return len(lines) >= len(urls) and [json.loads(line) for line in lines]

        entries = wait_until(logged)
        self.assertEqual([e["args"] for e in entries], [[u] for u in urls])
        self.assertEqual([e["cmdline"] for e in entries],
                         ['"%s" "%s"' % (recorder, u) for u in urls])


# ---------------------------------------------------------------------------------------------


def digest(password):
    data = bytes(ord(c) & 0xFF for c in password + SALT)
    return hashlib.sha256(data).hexdigest()


class SupportServer(unittest.TestCase):
    """tools/support_server.py as the program and the tests meet it, on a free port."""

    @classmethod
    def setUpClass(cls):
        cls.temp = Path(tempfile.mkdtemp(prefix="varnek-server-"))
        app = cls.temp / "root" / "VarnekITApp"
        app.mkdir(parents=True)
        (app / "VersionVarnekIT.txt").write_bytes(b"1.0.3\r\n")
        cls.package = os.urandom(200000)
        (app / "New_VarnekIT.zip").write_bytes(cls.package)
        (cls.temp / "secret.txt").write_text("no")
        cls.server = Server(cls.temp / "root", cls.temp, port=0,
                            users={"Søren": "Smørrebrød42", "a&b": "x=y"},
                            faults={"/VarnekITApp/VersionVarnekIT.txt": {"mode": "500",
                                                                          "times": 1}}).start()
        cls.port = cls.server.port
        cls.log = cls.server.log_path

    @classmethod
    def tearDownClass(cls):
        cls.exit_code = cls.server.stop()  # SIGTERM, by its id
        shutil.rmtree(cls.temp, ignore_errors=True)
        assert cls.exit_code == 0, cls.exit_code

    def get(self, target, method="GET", body=None, headers=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20)
        c.request(method, target, body=body, headers=headers or {})
        r = c.getresponse()
        data = r.read() if method != "HEAD" else b""
        c.close()
        return r, data

    def login(self, query):
        r, body = self.get("/AppLogin.asp?" + query)
        self.assertEqual(r.status, 200)
        return body.decode("utf-8"), r.getheader("X-Varnek-Login")

    def test_files_are_served_exactly_and_nothing_else(self):
        r, body = self.get("/VarnekITApp/VersionVarnekIT.txt")  # the start-up fault, once
        self.assertEqual(r.status, 500)
        r, body = self.get("/VarnekITApp/VersionVarnekIT.txt")
        self.assertEqual((r.status, body, r.getheader("Content-Length")), (200, b"1.0.3\r\n", "7"))
        r, body = self.get("/VarnekITApp/New_VarnekIT.zip")
        self.assertEqual((r.status, body), (200, self.package))
        for target in ("/VarnekITApp/Varnek_TeamViewer.zip", "/VarnekITApp/../secret.txt",
                       "/VarnekITApp/%2e%2e/secret.txt", "/VarnekITApp/..%2fsecret.txt",
                       "/VarnekITApp/x/VersionVarnekIT.txt", "/VarnekITApp/", "/secret.txt"):
            self.assertEqual(self.get(target)[0].status, 404, target)
        r, body = self.get("/")
        self.assertIn(b"Varnek Support System", body)
        self.assertEqual(self.get("/home.html")[0].status, 200)
        self.assertEqual(self.get("/home.html", "POST", b"x")[0].status, 405)

    def test_login_checks_user_and_digest(self):
        user = "Username=S%C3%B8ren&Password="
        page, header = self.login(user + digest("Smørrebrød42"))
        self.assertIn("<p id=\"result\">Login OK: Søren</p>", page)
        self.assertEqual(header, "OK")
        page, header = self.login("Username=a%26b&Password=" + digest("x=y"))
        self.assertIn("Login OK: a&amp;b", page)
        cases = {
            user + digest("Smorrebrod42"): "wrong password",
            "Username=Soren&Password=" + digest("Smørrebrød42"): "unknown user",
            user + digest("Smørrebrød42").upper(): "malformed request",
            user + digest("Smørrebrød42")[:63]: "malformed request",
            user + digest("Smørrebrød42") + "&Password=" + digest("Smørrebrød42"):
                "malformed request",
            user + digest("Smørrebrød42") + "&Lang=da": "malformed request",
            "Username=S%F8ren&Password=" + digest("Smørrebrød42"): "malformed request",
            "Password=" + digest("Smørrebrød42"): "malformed request",
            "": "malformed request",
        }
        for query, reason in cases.items():
            page, header = self.login(query)
            self.assertIn("Login failed: " + reason, page, query)
            self.assertEqual(header, "failed; " + reason, query)
            self.assertNotIn("Login OK", page)

    def test_every_request_is_logged(self):
        self.get("/AppLogin.asp?Username=x&Password=1")
        self.get("/nowhere?q=%C3%B8")
        entries = [json.loads(line) for line in self.log.read_text(encoding="utf-8").splitlines()]
        self.assertEqual({k: entries[-2][k] for k in ("method", "path", "query", "status")},
                         {"method": "GET", "path": "/AppLogin.asp",
                          "query": "Username=x&Password=1", "status": 200})
        self.assertEqual(entries[-1], {"method": "GET", "path": "/nowhere", "query": "q=%C3%B8",
                                       "connection": "", "user_agent": "", "status": 404})
        # A request for one request per connection is logged and answered as asked.
        agent = "VarnekIT/1.0.3 (Windows NT 10.0; x64; i686 build)"
        r, _ = self.get("/elsewhere", headers={"Connection": "close", "User-Agent": agent})
        self.assertEqual(r.getheader("Connection"), "close")
        r, _ = self.get("/elsewhere")
        self.assertIsNone(r.getheader("Connection"))
        entries = [json.loads(line) for line in self.log.read_text(encoding="utf-8").splitlines()]
        self.assertEqual([(e["connection"], e["user_agent"]) for e in entries[-2:]],
                         [("close", agent), ("", "")])

    def test_fault_modes(self):
        path = "/VarnekITApp/New_VarnekIT.zip"

        def fault(entry):
            r, body = self.get("/_faults", "PUT", json.dumps({path: entry}).encode())
            self.assertEqual(r.status, 200, body)

        saved = self.get("/_faults")[1]
        try:
            fault({"mode": "reset", "bytes": 1000})
            with self.assertRaises((ConnectionResetError, http.client.IncompleteRead)):
                self.get(path)
            fault({"mode": "short", "bytes": 1000})
            with self.assertRaises(http.client.IncompleteRead) as e:
                self.get(path)
            self.assertEqual(len(e.exception.partial), 1000)
            fault({"mode": "stall", "bytes": 10, "seconds": 1})
            started = time.monotonic()
            with self.assertRaises(http.client.IncompleteRead):
                self.get(path)
            self.assertGreaterEqual(time.monotonic() - started, 1.0)
            fault("empty")
            self.assertEqual(self.get(path)[1], b"")
            fault({"mode": "chunked", "chunk": 777})
            r, body = self.get(path)
            self.assertEqual((r.getheader("Transfer-Encoding"), body), ("chunked", self.package))
            fault({"mode": "oversize", "size": 3 << 20})
            r, body = self.get(path)
            self.assertEqual((len(body), body[:len(self.package)]), (3 << 20, self.package))
            fault({"mode": "status", "code": 503})
            self.assertEqual(self.get(path)[0].status, 503)
            fault("404")
            self.assertEqual(self.get(path)[0].status, 404)
            r, body = self.get("/_faults", "PUT", b'{"/x": {"mode": "sometimes"}}')
            self.assertEqual(r.status, 400)
            self.assertEqual(self.get(path)[0].status, 404)  # the old table holds
        finally:
            self.get("/_faults", "PUT", saved)
        self.assertEqual(self.get(path)[1], self.package)


def main():
    global TOOLS
    args = sys.argv[1:]
    folder = args.pop(0) if args and not args[0].startswith("-") else os.environ.get(
        "VARNEK_TOOLS_DIR")
    if not folder or not (Path(folder) / "uidriver.exe").is_file():
        print("usage: test_tools.py BUILD/tools [unittest options]", file=sys.stderr)
        return 2
    TOOLS = Path(folder).resolve()
    program = unittest.main(module=__name__, argv=[sys.argv[0], *args], exit=False,
                            verbosity=2)
    result = program.result
    failed = len(result.failures) + len(result.errors)
    skipped = len(result.skipped)
    print("%d passed, %d failed, %d skipped" % (result.testsRun - failed - skipped, failed,
                                               skipped))
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
