"""Drives Windows programs under Wine for the end-to-end tests.

One prefix is prepared per test run (wineboot, null graphics driver so that message boxes
exist as invisible but readable windows) and kept as a pristine template. Every test case
gets its own copy of it, with its own wineserver, and everything started in it is killed when
the case ends: a program left waiting on an invisible box would otherwise hang the run.

Small MinGW programs do what `wine` alone cannot: runner.exe reports a child's full 32-bit
exit status (wine keeps 8 bits), boxhelper.exe lists, reads and answers the message boxes of
other processes in the prefix (one serving helper per prefix, which also holds the prefix's
desktop open while it is in use: see Prefix._serve_boxes), stationrun.exe runs a program on a
window station nobody sees and reports the boxes that appear there.
"""

from __future__ import annotations

import dataclasses
import functools
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path, PureWindowsPath

# Files under these folders of a prefix are written once by wineboot and only read later:
# copies of a prefix share them as hard links instead of copying ~650 MB per test case.
SHARED_READ_ONLY = ("drive_c/windows/system32", "drive_c/windows/syswow64",
                    "drive_c/windows/winsxs")

# The sample product the installer tests install and patch (built with wixl).
SAMPLE_PRODUCT_WXS = Path(__file__).resolve().parent / "wine" / "sample_product.wxs"
DEFAULT_TIMEOUT = 60.0
DEFAULT_CWD = "C:\\"
SERVER_LINGER = 15  # seconds a prefix's wineserver outlives its last program
BOOT_TIMEOUT = 20.0  # seconds; a prefix boots in about one here, in a few when loaded
BOOT_ATTEMPTS = 3
# No Mono or Gecko, and no menu builder: on every start of a prefix Wine would run it to
# write desktop entries for the prefix's shortcuts into this user's home. No HID and USB bus
# drivers either: there are no devices to find, and probing for them costs every prefix start
# a process and a tenth of a second of CPU.
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d;winebus.sys,wineusb.sys,winehid.sys=d"
# msi.dll from the prefix's system32 (a stand-in put there), not Wine's built-in one.
NATIVE_MSI_OVERRIDES = DLL_OVERRIDES + ";msi=n"
# Services the programs under test never use, disabled in the template: device hot-plug, the
# event log and the network's drivers. Each would start with every prefix; with two cores
# shared by three workers, their CPU is the suite's time.
UNUSED_SERVICES = ("PlugPlay", "Eventlog", "NDIS", "nsiproxy")
# Where the stand-in msi.dll reads its script and appends its record unless told otherwise.
STANDIN_DIR = "C:\\standin"


class HarnessError(RuntimeError):
    pass


def _exit_report(done: subprocess.CompletedProcess) -> str:
    """A failed command's exit status with what it printed, for the failure message."""
    out = done.stdout.decode("utf-8", errors="replace").strip()[-500:]
    err = done.stderr.decode("utf-8", errors="replace").strip()[-2000:]
    return f"exit status {done.returncode}, output {out!r}, stderr {err!r}"


def normalized_locale(name: str) -> str:
    """A locale name as `locale -a` lists it: the code set in lower case without punctuation."""
    base, dot, rest = name.partition(".")
    if not dot:
        return name
    codeset, at, modifier = rest.partition("@")
    return f"{base}.{re.sub(r'[^0-9a-z]', '', codeset.lower())}{at}{modifier}"


@functools.cache
def _generated_locales() -> frozenset[str]:
    listed = subprocess.run(["locale", "-a"], capture_output=True, text=True, check=True)
    return frozenset(normalized_locale(name) for name in listed.stdout.split())


def require_locale(name: str) -> None:
    """Fails unless `name` is generated on this machine.

    Wine picks the string table from the name alone, so a missing locale goes unnoticed
    there; but it converts the Linux command line and environment with that locale's code
    page, and without one non-ASCII text reaches the program garbled.
    """
    if normalized_locale(name) not in _generated_locales():
        raise HarnessError(f"locale {name} is not generated here (`locale -a` does not list "
                           f"it): tools/install-deps.sh generates the ones the tests use")


def quiet_environment(prefix: Path, extra: dict[str, str] | None = None) -> dict[str, str]:
    """The environment for one Wine command in `prefix`: quiet, 64-bit, DLL_OVERRIDES."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("WINE", "LC_", "LANG", "LANGUAGE"))}
    env.update({
        "WINEPREFIX": str(prefix),
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": DLL_OVERRIDES,
        "WINEARCH": "win64",
        "LC_ALL": "C.UTF-8",
    })
    # No display: boxes must go to the null driver, never to a desktop someone has open.
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    if extra:
        env.update(extra)
    require_locale(env["LC_ALL"])
    return env


def _run_to_files(args, env, timeout, cwd=None) -> subprocess.CompletedProcess:
    """Runs a command and collects its output through files, not pipes.

    Wine starts helper processes (services, the desktop) that inherit the output handles and
    outlive the command; with pipes, waiting for the end of the output would wait for them.
    """
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=err, start_new_session=True, cwd=cwd)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired as expired:
            # What every program in the prefix was doing, for the report of a hang.
            expired.output = _prefix_processes(env.get("WINEPREFIX"))
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(args, process.returncode, out.read(), err.read())


def _processes_of(prefix: str | None):
    """(pid, stat fields after the name, command line) of each process whose WINEPREFIX is
    `prefix`."""
    for proc in Path("/proc").glob("[0-9]*"):
        try:
            if f"WINEPREFIX={prefix}".encode() not in (proc / "environ").read_bytes().split(b"\0"):
                continue
            fields = (proc / "stat").read_text().rpartition(")")[2].split()
            command = (proc / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        yield proc.name, fields, command.strip()


def _prefix_processes(prefix: str | None) -> str:
    """The state, CPU time and command line of each process whose WINEPREFIX is `prefix`, as
    the end of a failure's report."""
    lines = []
    for pid, fields, command in _processes_of(prefix):
        ticks = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        lines.append(f"{pid} {fields[0]} {ticks:.2f}s {command[:200]}")
    return "the prefix's processes then (pid, state, CPU, command):\n" + "\n".join(lines)


def _desktop_processes(prefix: str | None) -> list[str]:
    """The pids of the prefix's explorer.exe: the one that holds its desktop."""
    return [pid for pid, _, command in _processes_of(prefix) if "explorer.exe" in command.lower()]


def _run_checked(args, env, timeout, what):
    done = _run_to_files(args, env, timeout)
    if done.returncode != 0:
        raise HarnessError(f"{what} failed ({done.returncode}): "
                           f"{done.stderr.decode(errors='replace')[-2000:]}")
    return done


def prepare_template(path: Path, timeout: float = 180.0,
                     screenshot_desktop: str | None = None) -> Path:
    """Creates a ready prefix at `path`: initialised, server stopped.

    Normally with the null graphics driver: boxes exist without any display. With
    `screenshot_desktop` ("640x360"), every program runs in one virtual desktop of that size
    on the X display instead, so that a screenshot of the display shows its boxes, and
    windows need no window manager (without one each box takes ~2 s to close).
    """
    if path.exists():
        shutil.rmtree(path)
    env = quiet_environment(path)
    _run_checked(["wineboot", "-i"], env, timeout, "wineboot -i")
    if screenshot_desktop is None:
        settings = [[r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null"]]
    else:
        settings = [[r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N"],
                    [r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "Default"],
                    [r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default",
                     "/d", screenshot_desktop]]
    services = r"HKLM\System\CurrentControlSet\Services"
    settings += [[f"{services}\\{name}", "/v", "Start", "/t", "REG_DWORD", "/d", "4"]
                 for name in UNUSED_SERVICES]
    for setting in settings:
        _run_checked(["wine", "reg", "add", *setting, "/f"], env, timeout,
                     "setting up the template's registry")
    # The settings take effect when the prefix restarts; the registry is saved on exit.
    subprocess.run(["wineserver", "-k"], env=env, timeout=timeout)
    subprocess.run(["wineserver", "-w"], env=env, timeout=timeout)
    return path


def copy_prefix(template: Path, target: Path) -> None:
    """A private copy of `template` at `target`; the read-only bulk is hard-linked."""
    shared = tuple(str(template / part) for part in SHARED_READ_ONLY)

    def copy(src, dst):
        if src.startswith(shared):
            os.link(src, dst)
        else:
            shutil.copy2(src, dst)

    shutil.copytree(template, target, symlinks=True, copy_function=copy)


def to_windows(path: Path | str) -> str:
    """A Linux absolute path as Wine's Z: drive sees it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


@dataclasses.dataclass
class Box:
    hwnd: int
    pid: int
    exe: str
    caption: str
    text: str
    buttons: list[int]


@dataclasses.dataclass
class RunResult:
    exit_code: int | None  # None: the child outlived its timeout and was terminated
    pid: int | None
    output: str


def _parse_runner_output(text: str) -> RunResult:
    values = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
    if "error" in values:
        raise HarnessError(f"runner could not start the program: error {values['error']}")
    if "exit" not in values:
        raise HarnessError(f"runner reported no exit status: {text!r}")
    exit_code = None if values["exit"] == "timeout" else int(values["exit"])
    pid = int(values["pid"]) if "pid" in values else None
    return RunResult(exit_code, pid, text)


@dataclasses.dataclass
class UnseenRun:
    """A run on a window station of its own, one that no user is shown (stationrun.exe)."""
    exit_code: int | None  # None: the program outlived its timeout and was terminated
    station_flags: str  # the new station's UOI_FLAGS dwFlags as its creator read them
    boxes: list[dict]  # every dialog window that appeared on its desktop: pid, caption, text
    output: str  # everything printed, the program's own output included


def _parse_unseen_output(text: str) -> UnseenRun:
    lines = text.splitlines()
    errors = [line for line in lines if line.startswith("error=")]
    if errors:
        raise HarnessError(f"stationrun could not start the program: {errors[0]}")
    created = [line for line in lines if line.startswith("created=")]
    exits = [line[5:] for line in lines if line.startswith("exit=")]
    if not created or not exits:
        raise HarnessError(f"stationrun reported no station or no exit status: {text!r}")
    boxes = [json.loads(line[4:]) for line in lines if line.startswith("box=")]
    exit_code = None if exits[-1] == "timeout" else int(exits[-1])
    return UnseenRun(exit_code, created[0].rpartition(" flags=")[2], boxes, text)


class Started:
    """A program running in the background under runner.exe."""

    def __init__(self, args: list[str], env: dict[str, str], timeout: float, cwd: Path):
        # Output goes to a file: see _run_to_files for why not a pipe.
        self._output = tempfile.TemporaryFile()
        self._errors = tempfile.TemporaryFile()
        self._popen = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL,
                                       stdout=self._output, stderr=self._errors,
                                       start_new_session=True, cwd=cwd)
        deadline = time.monotonic() + timeout
        while "\n" not in self._text():
            if self._popen.poll() is not None or time.monotonic() > deadline:
                processes = _prefix_processes(env.get("WINEPREFIX"))
                self.kill()
                raise HarnessError(f"runner did not start the program: {self._report()}; "
                                   f"{processes}")
            time.sleep(0.02)
        first = self._text().splitlines()[0]
        if not first.startswith("pid="):
            self.kill()
            raise HarnessError(f"runner did not start the program: {self._report()}")
        self.pid = int(first[4:])

    def _text(self, stream=None) -> str:
        stream = stream or self._output
        stream.seek(0)
        return stream.read().decode("utf-8", errors="replace")

    def _report(self) -> str:
        return (f"exit status {self._popen.poll()}, output {self._text()!r}, "
                f"stderr {self._text(self._errors)[-2000:]!r}")

    def running(self) -> bool:
        return self._popen.poll() is None

    def output(self) -> str:
        """What runner printed so far: pid=, the program's own output, then exit=."""
        return self._text()

    def wait(self, timeout: float = DEFAULT_TIMEOUT) -> int | None:
        """The program's full exit status (None if runner had to terminate it)."""
        try:
            self._popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise HarnessError("the program did not end in time") from None
        return _parse_runner_output(self._text()).exit_code

    def kill(self):
        if self._popen.poll() is None:
            try:
                os.killpg(self._popen.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self._popen.wait(10)


class Prefix:
    """One test case's private copy of the prepared prefix."""

    def __init__(self, template: Path, path: Path, tools_dir: Path, display: str | None = None):
        self.path = path
        self.display = display  # an X display for screenshots; None: the null driver's boxes
        self.tools_dir = Path(tools_dir)
        if path.exists():
            shutil.rmtree(path)
        copy_prefix(template, path)
        self._started: list[Started] = []
        self._boot()

    def _boot(self) -> None:
        """Starts the prefix's server and the serving helper, and waits for the helper's first
        answer: Wine has booted the prefix then (wineboot, its services, the desktop).

        A program started from Linux waits in Wine's start-up for the prefix's boot, up to two
        minutes, before its own code runs. Now and then a case's first program, started while
        the helper was booting the fresh prefix, got no further than that and the case timed
        out. Booting before the case starts keeps its first program from racing the boot;
        a boot that has not ended in time is ended and done again, noted on the standard
        error. No program under test has run by then, so that hides nothing a test looks at."""
        for attempt in range(1, BOOT_ATTEMPTS + 1):
            # Keep the server up between commands: a run then costs ~30 ms instead of
            # ~0.5 s. Only for a while, so that a run killed before close() leaves no server
            # behind.
            subprocess.run(["wineserver", f"-p{SERVER_LINGER}"], env=self.env(),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
            self._helper = self._serve_boxes()
            try:
                self._ask_helper(["list"], BOOT_TIMEOUT)
                # A box that never shows may be on a desktop that was replaced since: its
                # explorer.exe then has another pid than this one.
                self._booted_desktop = _desktop_processes(str(self.path))
                return
            except (HarnessError, OSError, EOFError) as lost:
                report = (f"boot {attempt} of {self.path} did not end ({type(lost).__name__}, "
                          f"helper's exit status {self._helper.poll()}): {lost}")
                self.stop()
                if attempt == BOOT_ATTEMPTS:
                    raise HarnessError(report) from None
                print(report, file=sys.stderr)

    def _serve_boxes(self) -> subprocess.Popen:
        """Starts the boxhelper that answers this prefix's box commands (see _boxhelper)
        and keeps the prefix's desktop in use, and its explorer.exe up, while it runs.

        Without a program using it, Wine tears the desktop down a second after the last one
        ends, and a program starting in that moment can lose its boxes or fail to start.
        The helper ends at the end of its input, that is with this Python process, so a
        killed run leaves no server behind.
        """
        return subprocess.Popen(
            ["wine", str(self.tools_dir / "boxhelper.exe"), "serve"],
            env=self.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, start_new_session=True, cwd=self.path)

    # Paths -----------------------------------------------------------------------------

    @property
    def drive_c(self) -> Path:
        return self.path / "drive_c"

    def c_path(self, windows_path: str) -> Path:
        """The Linux path of a C:\\ path in this prefix."""
        parts = PureWindowsPath(windows_path).parts
        if not parts or parts[0].upper() != "C:\\":
            raise ValueError(f"not a C: path: {windows_path}")
        return self.drive_c.joinpath(*parts[1:])

    def default_temp(self) -> Path:
        """The folder GetTempPathW answers when nothing overrides TMP."""
        users = self.drive_c / "users"
        for user in sorted(users.iterdir()):
            if user.name != "Public" and (user / "Temp").is_dir():
                return user / "Temp"
        raise HarnessError("no user temporary folder in the prefix")

    # Commands --------------------------------------------------------------------------

    def env(self, lc_all: str | None = None, native_msi: bool = False) -> dict[str, str]:
        extra = {"LC_ALL": lc_all} if lc_all else {}
        if self.display:
            extra["DISPLAY"] = self.display
        if native_msi:
            extra["WINEDLLOVERRIDES"] = NATIVE_MSI_OVERRIDES
        return quiet_environment(self.path, extra)

    def _keep_desktop_held(self) -> None:
        """Starts the box helper again if it has ended: Wine can lose a process in its
        start-up, and without a helper the desktop dies between two programs."""
        if self._helper.poll() is not None:
            self._end_helper()
            self._helper = self._serve_boxes()

    def _end_helper(self) -> None:
        if self._helper.poll() is None:
            os.killpg(self._helper.pid, signal.SIGKILL)
        self._helper.wait(10)
        self._helper.stdin.close()
        self._helper.stdout.close()

    def wine(self, *args: str, timeout: float = DEFAULT_TIMEOUT, lc_all: str | None = None,
             check: bool = True, native_msi: bool = False) -> subprocess.CompletedProcess:
        self._keep_desktop_held()
        try:
            done = _run_to_files(["wine", *args], self.env(lc_all, native_msi), timeout,
                                 cwd=self.path)
        except subprocess.TimeoutExpired as expired:
            raise HarnessError(f"wine {' '.join(args)} did not end within {timeout:.0f} s; "
                               f"{expired.output}") from None
        if check and done.returncode != 0:
            raise HarnessError(f"wine {' '.join(args)}: {_exit_report(done)}")
        return done

    def _runner_args(self, program, args, cwd, env, timeout):
        # Without a C: directory the program would start in the Linux working directory (a
        # Z: path), where a fallback to "the root of the current drive" means the real "/".
        command = [str(self.tools_dir / "runner.exe"), "--cwd", cwd or DEFAULT_CWD]
        for name, value in (env or {}).items():
            command += ["--env", f"{name}={value}"]
        command += ["--timeout", str(int(timeout * 1000)), "--",
                    to_windows(program) if Path(str(program)).is_absolute() else str(program),
                    *args]
        return command

    def run(self, program, *args: str, cwd: str | None = None, env: dict | None = None,
            lc_all: str | None = None, timeout: float = 30.0,
            native_msi: bool = False) -> RunResult:
        """Runs `program` to its end through runner.exe and gives its full exit status.

        `program` is a Linux path (made a Z: path) or a Windows path; `cwd` a Windows path;
        `env` extra Windows environment variables for the program alone; `native_msi` loads
        the msi.dll of the prefix's system32 (see install_standin_msi) instead of Wine's.
        """
        command = self._runner_args(program, args, cwd, env, timeout)
        done = self.wine(*command, timeout=timeout + 30, lc_all=lc_all, native_msi=native_msi)
        return _parse_runner_output(done.stdout.decode("utf-8", errors="replace"))

    def start(self, program, *args: str, cwd: str | None = None, env: dict | None = None,
              lc_all: str | None = None, timeout: float = 60.0,
              native_msi: bool = False) -> Started:
        """Starts `program` in the background; answer its boxes, then `wait()` for it."""
        command = ["wine", *self._runner_args(program, args, cwd, env, timeout)]
        self._keep_desktop_held()
        started = Started(command, self.env(lc_all, native_msi), timeout=30, cwd=self.path)
        self._started.append(started)
        return started

    def run_unseen(self, program, *args: str, cwd: str | None = None,
                   lc_all: str | None = None, timeout: float = 30.0,
                   native_msi: bool = False) -> UnseenRun:
        """Runs `program` to its end on a new window station that no user is shown, as a
        service's programs run, and gives every box that appeared there (boxes() never
        sees them). The program is started directly: under Wine a grandchild would be back
        on the default station."""
        line = subprocess.list2cmdline(
            [to_windows(program) if Path(str(program)).is_absolute() else str(program), *args])
        command = [str(self.tools_dir / "stationrun.exe"), "--cwd", cwd or DEFAULT_CWD,
                   "--timeout", str(int(timeout * 1000)), "--cmdline", line]
        done = self.wine(*command, timeout=timeout + 30, lc_all=lc_all, native_msi=native_msi)
        return _parse_unseen_output(done.stdout.decode("utf-8", errors="replace"))

    # Message boxes ---------------------------------------------------------------------

    def _boxhelper(self, *args: str, timeout: float) -> subprocess.CompletedProcess:
        """One boxhelper command, answered by the serving helper: its exit code and output.

        A helper that has ended before it answered (Wine lost it, or it was killed) is
        started again and asked once more; one that does not answer within `timeout` and
        30 s more is ended, so that the next command gets a new one."""
        for attempt in (1, 2):
            self._keep_desktop_held()
            try:
                return self._ask_helper(args, timeout + 30)
            except (BrokenPipeError, EOFError):
                if attempt == 2:
                    raise HarnessError(f"boxhelper {' '.join(args)}: the helper ended "
                                       f"without an answer (exit status "
                                       f"{self._helper.poll()})") from None

    def _ask_helper(self, args, timeout: float) -> subprocess.CompletedProcess:
        self._helper.stdin.write(("\t".join(args) + "\n").encode("utf-8"))
        self._helper.stdin.flush()
        deadline = time.monotonic() + timeout
        output = b""
        reader = self._helper.stdout.fileno()
        while True:
            last = output.rfind(b"\n", 0, len(output) - 1) + 1
            if output.endswith(b"\n") and output.startswith(b"done=", last):
                code = int(output[last + 5:].strip())
                return subprocess.CompletedProcess(args, code, output[:last], b"")
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([reader], [], [], left)[0]:
                processes = _prefix_processes(str(self.path))
                self._end_helper()
                raise HarnessError(f"boxhelper {' '.join(args)} did not answer within "
                                   f"{timeout:.0f} s; output so far {output!r}; {processes}")
            chunk = os.read(reader, 65536)
            if not chunk:
                raise EOFError
            output += chunk

    def _box_query(self, *args: str, timeout: float) -> tuple[int, list[Box]]:
        done = self._boxhelper(*args, timeout=timeout)
        if done.returncode not in (0, 1):
            raise HarnessError(f"boxhelper {' '.join(args)} failed: {_exit_report(done)}")
        # Not splitlines(): a box text may hold U+0085 or U+2028, which are no line ends.
        boxes = [Box(**json.loads(line)) for line in
                 done.stdout.decode("utf-8").split("\n") if line.strip()]
        return done.returncode, boxes

    @staticmethod
    def _filter(pid, exe):
        if pid is not None:
            return ["--pid", str(pid)]
        if exe is not None:
            return ["--exe", exe]
        return []

    def boxes(self, pid: int | None = None, exe: str | None = None) -> list[Box]:
        return self._box_query("list", *self._filter(pid, exe), timeout=10)[1]

    def wait_box(self, pid: int | None = None, exe: str | None = None,
                 timeout: float = 20.0) -> Box:
        """The first visible box of the process (or of any process); raises after timeout."""
        code, boxes = self._box_query("wait", *self._filter(pid, exe),
                                      "--timeout", str(int(timeout * 1000)), timeout=timeout)
        if code != 0 or not boxes:
            raise HarnessError(f"no message box appeared within {timeout} s; the desktop's "
                               f"explorer.exe after the boot: {self._booted_desktop}; "
                               f"{_prefix_processes(str(self.path))}")
        return boxes[0]

    def answer(self, box: Box, button_id: int, timeout: float = 10.0) -> None:
        """Presses button `button_id` of `box` and waits until the box has gone.

        An attempt that fails is tried again while the box is still open; a box that has gone
        by then was answered (the click got through, whatever else went wrong).
        """
        if button_id not in box.buttons:
            raise HarnessError(f"the box has no button {button_id}: {box.buttons}")
        deadline = time.monotonic() + timeout
        failures = []
        while True:
            left = max(deadline - time.monotonic(), 1.0)
            done = self._boxhelper("answer", str(box.hwnd), str(button_id),
                                   "--timeout", str(int(left * 1000)), timeout=left)
            if done.returncode == 0:
                return
            failures.append(_exit_report(done))
            if not any(b.hwnd == box.hwnd for b in self.boxes(pid=box.pid)):
                return
            if time.monotonic() > deadline:
                raise HarnessError(f"could not answer box {box.hwnd}: " + "; ".join(failures))
            time.sleep(0.1)

    # Machine state ---------------------------------------------------------------------

    def reg_add(self, key: str, value: str | None, data: str, kind: str = "REG_SZ") -> None:
        args = ["reg", "add", key]
        args += ["/v", value] if value is not None else ["/ve"]
        self.wine(*args, "/t", kind, "/d", data, "/f")

    def install_msi(self, msi: Path, timeout: float = 120.0) -> None:
        self.wine("msiexec", "/i", to_windows(msi), "/qn", timeout=timeout)

    def apply_patch(self, msp: Path, timeout: float = 120.0) -> None:
        self.wine("msiexec", "/p", to_windows(msp), "/qn", timeout=timeout)

    # The stand-in installer ------------------------------------------------------------

    def install_standin_msi(self, dll: Path) -> None:
        """Puts the stand-in msi.dll into system32 and makes its default folder.

        Programs get it only when run with `native_msi=True`. The system32 file is a hard
        link shared with the template and every other copy: it is unlinked first, so that
        only this prefix changes.
        """
        target = self.drive_c / "windows" / "system32" / "msi.dll"
        target.unlink(missing_ok=True)
        shutil.copyfile(dll, target)
        self.c_path(STANDIN_DIR).mkdir(parents=True, exist_ok=True)

    def write_standin_script(self, lines: list[str],
                             path: str = STANDIN_DIR + "\\script.txt") -> None:
        self.c_path(path).write_text("".join(line + "\n" for line in lines), encoding="utf-8")

    def standin_calls(self, path: str = STANDIN_DIR + "\\calls.txt") -> list[str]:
        """The stand-in's record so far, one call (or patchfile report) per line."""
        record = self.c_path(path)
        if not record.exists():
            return []
        # Not splitlines(): a recorded name may hold U+0085 or U+2028, which are no line ends.
        return record.read_text(encoding="utf-8").split("\n")[:-1]

    # End -------------------------------------------------------------------------------

    def close(self) -> None:
        """Ends everything started in this prefix and removes it."""
        self.stop()
        shutil.rmtree(self.path, ignore_errors=True)

    def stop(self) -> None:
        """Ends everything started in this prefix, its server last (which saves the
        registry), and keeps the prefix: it can serve as a template."""
        subprocess.run(["wineserver", "-k"], env=self.env(), stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=30)
        for started in self._started:
            started.kill()
        self._end_helper()
        subprocess.run(["wineserver", "-w"], env=self.env(), stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=30)


def packed_guid(code: str) -> str:
    """A product code as the installer's registry keys spell it.

    {ABCDEF01-2345-6789-ABCD-EF0123456789} -> 10FEDCBA54329876BADCFE1032547698: the first
    three groups reversed, then each byte of the last two with its two digits swapped.
    """
    groups = code.strip("{}").split("-")
    if len(groups) != 5 or [len(g) for g in groups] != [8, 4, 4, 4, 12]:
        raise ValueError(f"not a GUID in braces: {code}")
    head = "".join(g[::-1] for g in groups[:3])
    tail = "".join(groups[3:])
    return (head + "".join(tail[i + 1] + tail[i] for i in range(0, len(tail), 2))).upper()


def output_fields(output: str) -> dict[str, list[str]]:
    """The key=value lines of a probe's output, every value of a key in order."""
    fields: dict[str, list[str]] = {}
    for line in output.splitlines():
        key, sep, value = line.partition("=")
        if sep:
            fields.setdefault(key, []).append(value)
    return fields
