#!/usr/bin/env python3
"""Side-by-side benchmark of our packages against NSIS under wine64.

One run generates the product trees from a fixed seed, builds each with
setup-builder (one thread and all cores) and with makensis (zlib, non-solid,
amd64-unicode), installs each package silently into a fresh folder of one Wine
prefix, alternating the two tools, and prints a table of medians with every
figure as a ratio to NSIS. It also times the runtime's start-up on projects of
1,000 and 10,000 file items, runs the online stub of a 300 MB package
served from loopback (whole, and cut in the middle and resumed) beside the
full package's own install, and lists the sizes of the runtime programs.

    bench/bench.py            the full run (200 MB tree, 512 MB file, 5 rounds)
    bench/bench.py --quick    a small tree and one round (the test suite runs it)
    bench/bench.py --baseline OLD/Setup.exe --cases product
                              an earlier runtime's installs alternate with ours and
                              NSIS's; "vs base" rows give ours / the earlier one

Memory is the installer process's peak resident set (VmHWM) and the largest
private part seen (Private_Clean + Private_Dirty of smaps_rollup), read from
/proc while it runs: under wine64 the Windows program is that Linux process.
"""

import argparse
import email.utils
import http.server
import os
import random
import shutil
import statistics
import subprocess
import sys
import threading
import time
import urllib.parse
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
GUID = "{2F0C9B7E-41D3-4A8E-B6F5-7C19E0A4D352}"
UNINSTALL_KEY = r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + GUID + "_lm"
NSIS_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\NvBenchNsis"
WORDS = ("setup install package folder window registry value shortcut product version file "
         "program data stream chunk buffer resource module process thread message progress").split()


# ---- trees -----------------------------------------------------------------------

def _text(rng, size):
    out, n = [], 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14))) + "\n"
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def _content(rng, kind, size, text_pool):
    if kind == "text":
        start = rng.randrange(max(1, len(text_pool) - size))
        return (text_pool[start:start + size] * (size // max(1, len(text_pool)) + 1))[:size]
    if kind == "random":  # already compressed data: archives, media
        return rng.randbytes(size)
    if kind == "sparse":
        data = bytearray(size)
        for _ in range(max(1, size // 65536)):
            at = rng.randrange(size)
            chunk = rng.randbytes(min(512, size - at))
            data[at:at + len(chunk)] = chunk
        return bytes(data)
    block = rng.randbytes(4096)  # repetitive: tables, images with large flat areas
    return (block * (size // 4096 + 1))[:size]


def reusable_tree(path, spec, fill):
    """Fills the folder path with fill(path) unless the tree made last time
    for the same spec is there (a marker beside the folder says so)."""
    marker = path.parent / f".{path.name}.bench-tree"
    if path.exists() and marker.exists() and marker.read_text() == spec:
        return
    if path.exists():
        shutil.rmtree(path)
    path.mkdir(parents=True)
    fill(path)
    marker.write_text(spec)


def make_tree(path, seed, files, total, big):
    """files small and medium files adding up to about total bytes, plus the
    given big file sizes; nested folders."""
    reusable_tree(path, f"{seed} {files} {total} {big}", lambda p: _fill_tree(p, seed, files, total, big))


def _fill_tree(path, seed, files, total, big):
    rng = random.Random(seed)
    text_pool = _text(rng, 1 << 20)
    dirs = [Path(".")]
    for i in range(max(1, files // 20)):
        parent = rng.choice(dirs)
        if len(parent.parts) < 4:
            dirs.append(parent / f"dir{i:03d}")
    budget = max(0, total - sum(big))
    # Many small files and fewer medium ones: sizes from a long-tailed draw,
    # scaled to the budget.
    raw = [rng.paretovariate(1.2) for _ in range(files)]
    scale = budget / sum(raw) if raw else 0
    sizes = [max(0, min(int(r * scale), 6 << 20)) for r in raw] + list(big)
    kinds = ["text", "random", "sparse", "repetitive"]
    for i, size in enumerate(sizes):
        folder = path / rng.choice(dirs)
        folder.mkdir(parents=True, exist_ok=True)
        kind = kinds[i % 4] if i < files else "mixed"
        name = folder / f"file{i:05d}.{'txt' if kind == 'text' else 'bin'}"
        with open(name, "wb") as f:
            if kind != "mixed":
                f.write(_content(rng, kind, size, text_pool))
                continue
            done = 0
            while done < size:  # large files in 1 MiB pieces of every kind
                piece = min(1 << 20, size - done)
                f.write(_content(rng, kinds[(done >> 20) % 4], piece, text_pool))
                done += piece


def empty_tree(path, count):
    """count empty files in folders of 500."""
    def fill(root):
        for i in range(count):
            folder = root / f"d{i // 500:02d}"
            folder.mkdir(parents=True, exist_ok=True)
            (folder / f"f{i:05d}.txt").touch()
    reusable_tree(path, f"empty {count}", fill)


def tree_size(path):
    files = [p for p in path.rglob("*") if p.is_file()]
    return len(files), sum(p.stat().st_size for p in files)


# ---- packages ----------------------------------------------------------------------

PROJECT = """<?xml version="1.0" encoding="UTF-8"?>
<TSetupScript>
  <BaseInfo AppTitle="NvBench" CompanyName="NvBench" CompanyUrl="" DefInstallPath="{install}" FullSetupFile="{out}"
    FullDownloadUrl="{url}" GotoUrl="" GotoUrlMode="gumSilent" GUID="%s" IconFile="" LicenseFile=""
    MiniSetupFile="{stub}" Version="1.0.0.0"/>
  <FileList><Items>{items}</Items></FileList>
  <RegList><Items/></RegList><RunList><Items/></RunList><ShortCutList><Items/></ShortCutList>
  <SwiperList><Items/></SwiperList><VarList><Items/></VarList>
</TSetupScript>
""" % GUID
FILE_ITEM = ('<TSetupFile Checked="True" Condition="" DestDir="{{app}}" FileBytes="0" IncludeSubPath="True" '
             'LastWriteDate="0" ResID="" SourceMask="*.*" SourcePath="{src}"/>')

NSI = """Unicode true
Target amd64-unicode
SetCompressor zlib
Name "NvBench"
OutFile "{out}"
InstallDir "C:\\bench\\nsis"
RequestExecutionLevel admin
Section
  SetOutPath "$INSTDIR"
  {files}
  WriteUninstaller "$INSTDIR\\Uninstall.exe"
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NvBenchNsis" "DisplayName" "NvBench"
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NvBenchNsis" "UninstallString" '"$INSTDIR\\Uninstall.exe"'
SectionEnd
Section "Uninstall"
  RMDir /r "$INSTDIR"
SectionEnd
"""


def timed(cmd, **kw):
    t = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, **kw)
    return time.perf_counter() - t


def build_ours(args, name, tree, work, install, jobs, url="", runtime=None):
    """The full package name.exe, and with url its online stub name_stub.exe
    (pinned to the full package) fetching it from url; runtime: another
    Setup.exe than --runtime."""
    work.mkdir(parents=True, exist_ok=True)
    items = FILE_ITEM.format(src=tree) if tree else ""
    project = work / f"{name}.xml"
    project.write_text(PROJECT.replace("{install}", install).replace("{out}", f"{name}.exe")
                       .replace("{url}", url).replace("{stub}", f"{name}_stub.exe" if url else "")
                       .replace("{items}", items), encoding="utf-8")
    cmd = args.builder + ["build", str(project), "--runtime", str(runtime or args.runtime), "--quiet"]
    cmd += ["--uninstaller", str(args.uninstaller)] if args.uninstaller else ["--no-uninstaller"]
    if jobs:
        cmd += ["--jobs", str(jobs)]
    seconds = timed(cmd)
    return work / f"{name}.exe", seconds


def build_nsis(name, tree, work):
    work.mkdir(parents=True, exist_ok=True)
    files = f'File /r "{tree}/*.*"' if tree else ""
    script = work / f"{name}.nsi"
    out = work / f"{name}.exe"
    script.write_text(NSI.format(out=out, files=files), encoding="utf-8")
    seconds = timed(["makensis", "-V1", str(script)])
    return out, seconds


# ---- the online stub's server ----------------------------------------------------------

class PackageServer:
    """Serves the files of a folder on 127.0.0.1 with their length, an ETag and
    ranges ("bytes=N-"); "?cut=N" ends every answer of the whole file after N
    bytes by closing the connection (the rest, asked for with a range, is sent
    whole)."""

    def __init__(self, folder):
        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *a):
                pass

            def do_GET(self):
                parts = urllib.parse.urlsplit(self.path)
                path = Path(folder) / Path(urllib.parse.unquote(parts.path)).name
                if not path.is_file():
                    self.send_error(404)
                    return
                size = path.stat().st_size
                etag = '"%x-%x"' % (size, path.stat().st_mtime_ns)
                cut = int(urllib.parse.parse_qs(parts.query).get("cut", ["0"])[0])
                start, wanted = 0, self.headers.get("Range", "")
                if wanted.startswith("bytes=") and self.headers.get("If-Range", etag) == etag:
                    start = int(wanted[6:].partition("-")[0])
                end = cut if cut and not start else size
                self.send_response(206 if start else 200)
                self.send_header("Content-Length", str(size - start))
                self.send_header("ETag", etag)
                self.send_header("Last-Modified", email.utils.formatdate(path.stat().st_mtime, usegmt=True))
                if start:
                    self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
                self.end_headers()
                with open(path, "rb") as f:
                    f.seek(start)
                    at = start
                    while at < end:
                        piece = f.read(min(1 << 20, end - at))
                        if not piece:
                            break
                        self.wfile.write(piece)
                        at += len(piece)
                self.close_connection = end < size

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


# ---- runs under Wine ------------------------------------------------------------------

class Wine:
    def __init__(self, env_dir):
        self.env_dir = env_dir
        self.own = not (env_dir / "env").exists()
        if self.own:
            subprocess.run([str(ROOT / "scripts/wine-prefix.sh"), "start", str(env_dir)], check=True,
                           stdout=subprocess.DEVNULL)
        self.env = dict(os.environ)
        for line in (env_dir / "env").read_text().splitlines():
            key, _, value = line.removeprefix("export ").partition("=")
            self.env[key] = value.strip('"')
        self.prefix = Path(self.env["WINEPREFIX"])

    def close(self):
        if self.own:
            subprocess.run([str(ROOT / "scripts/wine-prefix.sh"), "stop", str(self.env_dir)], check=False)

    def unix(self, windows_path):
        return self.prefix / "drive_c" / windows_path[3:].replace("\\", "/")

    def call(self, *cmd):
        subprocess.run(["wine", *cmd], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=False)

    def measure(self, exe, *switches, timeout=900):
        """Runs exe; returns (exit code, seconds, peak RSS MiB, peak private MiB)."""
        start = time.perf_counter()
        proc = subprocess.Popen(["wine", str(exe), *switches], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        hwm = private = 0
        status = Path(f"/proc/{proc.pid}/status")
        rollup = Path(f"/proc/{proc.pid}/smaps_rollup")
        while proc.poll() is None:
            try:
                for line in status.read_text().splitlines():
                    if line.startswith("VmHWM:"):
                        hwm = max(hwm, int(line.split()[1]))
                part = 0
                for line in rollup.read_text().splitlines():
                    if line.startswith(("Private_Clean:", "Private_Dirty:")):
                        part += int(line.split()[1])
                private = max(private, part)
            except (OSError, ValueError):
                pass
            if time.perf_counter() - start > timeout:
                proc.kill()
            time.sleep(0.01)
        return proc.returncode, time.perf_counter() - start, hwm / 1024, private / 1024


def clean_ours(wine, install):
    shutil.rmtree(wine.unix(install), ignore_errors=True)
    wine.call("reg", "delete", UNINSTALL_KEY, "/f")


def clean_nsis(wine, install):
    shutil.rmtree(wine.unix(install), ignore_errors=True)
    wine.call("reg", "delete", NSIS_KEY, "/f", "/reg:64")


def check_install(wine, install, tree):
    """The installed tree matches the source (names and sizes)."""
    if tree is None:
        return
    target = wine.unix(install)
    for src in tree.rglob("*"):
        if src.is_file():
            dst = target / src.relative_to(tree)
            if not dst.is_file() or dst.stat().st_size != src.stat().st_size:
                raise SystemExit(f"bench: {dst}: missing or of the wrong size after the install")


# ---- the online stub ----------------------------------------------------------------

def online_runs(args, wine, trees, work, rounds, big):
    """Installs from the online stub of a package with one big file of big
    bytes (whole, and cut in the middle and resumed) and of a 1 MB one,
    beside the big package's own install; rows of (label, medians of
    (seconds, peak RSS MiB, peak private MiB))."""
    def random_file(size, seed):
        def fill(root):
            rng = random.Random(seed)
            with open(root / "data.bin", "wb") as f:
                for done in range(0, size, 1 << 20):
                    f.write(rng.randbytes(min(1 << 20, size - done)))
        return fill
    # Data that does not compress: the package is as large as the file.
    reusable_tree(trees / "online", f"random {big}", random_file(big, 13))
    reusable_tree(trees / "online_small", f"random {1 << 20}", random_file(1 << 20, 17))
    folder = work / "pkg"
    folder.mkdir(parents=True, exist_ok=True)
    server = PackageServer(folder)
    install = "C:\\bench\\online"
    try:
        def url(name):
            return f"http://127.0.0.1:{server.port}/{name}.exe"
        full, _ = build_ours(args, "online", trees / "online", folder, install, 0, url("online"))
        build_ours(args, "online_small", trees / "online_small", folder, install, 0, url("online_small"))
        stub = folder / "online_stub.exe"
        # Another build of it whose address has its answers cut in the middle.
        build_ours(args, "online_cut", trees / "online", folder, install, 0,
                   url("online_cut") + f"?cut={full.stat().st_size // 2}")
        runs = [("stub, 1 MB package", folder / "online_small_stub.exe"),
                (f"full package ({big >> 20} MB)", full),
                (f"stub ({big >> 20} MB)", stub),
                ("stub, cut in the middle, resumed", folder / "online_cut_stub.exe")]
        rows = []
        for label, exe in runs:
            figures = []
            for r in range(rounds):
                clean_ours(wine, install)
                code, *fig = wine.measure(exe, "/Silent")
                if code != 0:
                    raise SystemExit(f"bench: the online run \"{label}\" ended with exit code {code}")
                check_install(wine, install, trees / ("online_small" if exe.name.startswith("online_small")
                                                      else "online"))
                figures.append(fig)
            rows.append((label, [median([f[i] for f in figures]) for i in range(3)]))
            print(f"   {label}: {rows[-1][1][0]:.2f} s, {rows[-1][1][1]:.1f} MiB", flush=True)
        clean_ours(wine, install)
        return rows
    finally:
        server.close()


def print_online(rows):
    print(f"{'online stub':<34} {'install (s)':>12} {'peak resident (MiB)':>20} {'peak private (MiB)':>19}")
    for label, (seconds, rss, private) in rows:
        print(f"{label:<34} {seconds:>12.2f} {rss:>20.1f} {private:>19.1f}")


# ---- the run ---------------------------------------------------------------------------

def median(values):
    return statistics.median(values) if values else float("nan")


def ratio(a, b):
    return f"{a / b:.2f}" if b else "-"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="a small tree and one round")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--work", type=Path, default=ROOT / "build/bench")
    ap.add_argument("--builder", default=str(ROOT / "build/host/Builder/setup-builder"))
    ap.add_argument("--runtime", type=Path, default=ROOT / "build/win64/Installer/Setup.exe")
    ap.add_argument("--uninstaller", type=Path, default=ROOT / "build/win64/Uninstaller/Uninstall.exe")
    ap.add_argument("--baseline", type=Path, default=None,
                    help="another Setup.exe (an earlier build) whose installs alternate with ours and NSIS's")
    ap.add_argument("--cases", default="product,bigfile",
                    help="the install cases of the full run besides the empty package (default: product,bigfile)")
    ap.add_argument("--wine-env", type=Path, default=None,
                    help="a running environment of scripts/wine-prefix.sh (default: one of the bench's own)")
    ap.add_argument("--online-only", action="store_true", help="only the online stub's runs")
    ap.add_argument("--online-mb", type=int, default=300, help="the online stub's package size (MB; quick: 4)")
    args = ap.parse_args()
    args.builder = ["wine", args.builder] if args.builder.endswith(".exe") else [args.builder]
    if not args.uninstaller.exists():
        args.uninstaller = None
    rounds = 1 if args.quick else max(1, args.rounds)
    work = args.work.resolve() / ("quick" if args.quick else "full")
    trees = work / "trees"
    online_big = (4 << 20) if args.quick else (args.online_mb << 20)

    if args.online_only:
        wine = Wine(args.wine_env.resolve() if args.wine_env else work / "wine-env")
        try:
            print("== online stub", flush=True)
            rows = online_runs(args, wine, trees, work, rounds, online_big)
        finally:
            wine.close()
        print()
        print_online(rows)
        return 0

    print("== trees", flush=True)
    cases = [("empty", None)]
    if args.quick:
        make_tree(trees / "product", 7, 60, 3 << 20, [1 << 20])
        cases.append(("product", trees / "product"))
        loads = [100, 1000]
    else:
        make_tree(trees / "product", 7, 2000, 200 << 20, [20 << 20, 22 << 20, 24 << 20])
        if "bigfile" in args.cases.split(","):
            make_tree(trees / "bigfile", 11, 0, 0, [512 << 20])
        cases += [(c, trees / c) for c in args.cases.split(",") if c in ("product", "bigfile")]
        loads = [1000, 10000]
    for name, tree in cases[1:]:
        n, size = tree_size(tree)
        print(f"   {name}: {n} files, {size / 1e6:.1f} MB")

    print("== builds", flush=True)
    ours_dir = "C:\\bench\\ours"
    nsis_dir = "C:\\bench\\nsis"
    packages, figures = {}, {}
    for name, tree in cases:
        pkg, t1 = build_ours(args, f"ours_{name}", tree, work / "pkg", ours_dir, 1)
        _, tn = build_ours(args, f"ours_{name}", tree, work / "pkg", ours_dir, 0)
        npkg, tns = build_nsis(f"nsis_{name}", tree, work / "pkg")
        packages[name] = (pkg, npkg)
        if args.baseline:
            packages[name] += (build_ours(args, f"base_{name}", tree, work / "pkg", ours_dir, 0, runtime=args.baseline)[0],)
        figures[name] = {"build 1 thread (s)": (t1, tns), "build all cores (s)": (tn, tns),
                         "package size (MB)": (pkg.stat().st_size / 1e6, npkg.stat().st_size / 1e6)}
        print(f"   {name}: ours {t1:.2f} s / {tn:.2f} s, {pkg.stat().st_size} bytes; "
              f"NSIS {tns:.2f} s, {npkg.stat().st_size} bytes", flush=True)

    wine = Wine(args.wine_env.resolve() if args.wine_env else work / "wine-env")
    try:
        print("== installs", flush=True)
        for name, tree in cases:
            pkg, npkg = packages[name][:2]
            runs = {"ours": [], "nsis": [], "base": []}
            sides = ("ours", "nsis", "base") if args.baseline else ("ours", "nsis")
            for r in range(rounds):
                for side in (sides if r % 2 == 0 else sides[::-1]):
                    if side in ("ours", "base"):
                        clean_ours(wine, ours_dir)
                        code, *fig = wine.measure(pkg if side == "ours" else packages[name][2], "/Silent")
                        check_install(wine, ours_dir, tree)
                    else:
                        clean_nsis(wine, nsis_dir)
                        code, *fig = wine.measure(npkg, "/S", f"/D={nsis_dir}")
                        check_install(wine, nsis_dir, tree)
                    if code != 0:
                        raise SystemExit(f"bench: the {side} install of {name} ended with exit code {code}")
                    runs[side].append(fig)
            for i, label in enumerate(("install (s)", "peak resident (MiB)", "peak private (MiB)")):
                figures[name][label] = (median([f[i] for f in runs["ours"]]), median([f[i] for f in runs["nsis"]]))
                if args.baseline:
                    base = median([f[i] for f in runs["base"]])
                    figures[name][label + " vs base"] = (figures[name][label][0], base)
            print(f"   {name}: ours {figures[name]['install (s)'][0]:.2f} s, NSIS {figures[name]['install (s)'][1]:.2f} s",
                  flush=True)
        clean_ours(wine, ours_dir)
        clean_nsis(wine, nsis_dir)

        print("== project load (start-up until the folder check)", flush=True)
        load_rows = []
        for count in loads:
            tree = trees / f"empty{count}"
            empty_tree(tree, count)
            # A folder on a drive that does not exist: start-up, then the folder
            # check fails and the program ends with exit code 3.
            pkg, _ = build_ours(args, f"load_{count}", tree, work / "pkg", "Q:\\nowhere", 0)
            samples = [wine.measure(pkg, "/Silent") for _ in range(rounds)]
            if any(s[0] != 3 for s in samples):
                raise SystemExit(f"bench: the load run of {count} items ended with {samples[0][0]}, not 3")
            load_rows.append((count, median([s[1] for s in samples]), median([s[2] for s in samples])))

        print("== online stub", flush=True)
        online_rows = online_runs(args, wine, trees, work, rounds, online_big)
    finally:
        wine.close()

    print()
    print(f"== results: medians of {rounds} round(s), ratio = ours / NSIS (\"vs base\": ours / the baseline)")
    print(f"{'case':<9} {'figure':<30} {'ours':>10} {'other':>10} {'ratio':>7}")
    for name, _ in cases:
        for label, (ours, nsis) in figures[name].items():
            print(f"{name:<9} {label:<30} {ours:>10.2f} {nsis:>10.2f} {ratio(ours, nsis):>7}")
    print()
    print(f"{'items':>7} {'start-up (s)':>13} {'peak resident (MiB)':>20}")
    for count, seconds, mib in load_rows:
        print(f"{count:>7} {seconds:>13.2f} {mib:>20.1f}")
    print()
    print_online(online_rows)
    print()
    print("runtime programs (bytes):")
    for preset in ("win32", "win64"):
        for program in ("Installer/Setup.exe", "Uninstaller/Uninstall.exe"):
            p = ROOT / "build" / preset / program
            print(f"   {preset}/{Path(program).name:<14} {p.stat().st_size if p.exists() else '(not built)'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
