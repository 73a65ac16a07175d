#!/usr/bin/env python3
"""The scripts that make the package and the launcher bundle, run here as they run on a Mac: the
Info.plist read back with plistlib, the macOS layout assembled around stand-in .dylib plug-ins and a
stand-in macdeployqt, and the package's SHA-256 recorded in the bundle; and the scripts a Mac user
runs kept to what macOS has (bash 3.2, BSD tools).

    bundle_scripts_test.py <source folder>
"""
import hashlib
import json
import os
import plistlib
import re
import stat
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPTS = os.path.join(ROOT, "scripts")

# What the real macdeployqt does, as far as make-bundle relies on it: Qt's frameworks into
# Contents/Frameworks, the cocoa plug-in and the mac style into Contents/PlugIns, qt.conf; every
# -executable=<file> re-pointed at the bundle's frameworks (marked here by a line appended to it).
FAKE_MACDEPLOYQT = """#!/bin/sh
set -eu
app=$1; shift
echo "$app $*" > "$FAKE_DEPLOY_LOG"
case "$app" in *.app) ;; *) echo "macdeployqt: not a bundle: $app" >&2; exit 1 ;; esac
exe=$(sed -n '/CFBundleExecutable/{n;s/.*<string>\\(.*\\)<\\/string>.*/\\1/p;}' "$app/Contents/Info.plist")
[ -x "$app/Contents/MacOS/$exe" ] || { echo "macdeployqt: no executable '$exe'" >&2; exit 1; }
mkdir -p "$app/Contents/Frameworks/QtCore.framework/Versions/5" "$app/Contents/PlugIns/platforms" \\
         "$app/Contents/PlugIns/styles" "$app/Contents/PlugIns/imageformats"
printf 'qtcore\nminos=12.3\n' > "$app/Contents/Frameworks/QtCore.framework/Versions/5/QtCore"
for p in platforms/libqcocoa.dylib styles/libqmacstyle.dylib imageformats/libqjpeg.dylib; do
  cp "$FAKE_QT_PLUGINS/$p" "$app/Contents/PlugIns/$p"
done
printf '[Paths]\\nPlugins = PlugIns\\n' > "$app/Contents/Resources/qt.conf"
for a in "$@"; do
  case "$a" in
    -executable=*) f=${a#-executable=}; [ -f "$f" ] || exit 1; echo "@executable_path/../Frameworks/QtCore" >> "$f" ;;
  esac
done
"""

# macOS's own tools as make-bundle uses them: codesign (logged), otool -l (a stand-in binary's line
# "minos=<v>" is its LC_BUILD_VERSION; it fails on other files, as on what is not a binary), sips and
# iconutil (copies).
FAKE_MAC_TOOLS = {
    "codesign": '#!/bin/sh\necho "$*" >> "$FAKE_DEPLOY_LOG.sign"\n',
    "otool": '#!/bin/sh\nshift\ns=0\nfor f; do grep -q ^minos= "$f" || s=1\n'
             'awk \'sub(/^minos=/, "") { print "cmd LC_BUILD_VERSION"; print "minos " $0 }\' "$f"; done\nexit $s\n',
    "sips": '#!/bin/sh\nwhile [ "$1" != --out ]; do src=$1; shift; done\ncp "$src" "$2"\n',
    "iconutil": '#!/bin/sh\ncat "$3"/*.png > "$5"\n',
}

INFO = "[Other]\nbuild_version=1\n[Version]\r\nmajor_version=2\r\nminor_version = 3\r\nbuild_version = 120\r\n"


def write(path, data, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w" if isinstance(data, str) else "wb") as f:
        f.write(data)
    os.chmod(path, mode)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def tree(path):
    return sorted(os.path.relpath(os.path.join(d, n), path) for d, dirs, files in os.walk(path) for n in dirs + files)


class BundleScriptsTest(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="bundle-scripts-")
        self.tmp = self._tmp.name
        self.plugins = os.path.join(self.tmp, "qt-plugins")
        for p in ["platforms/libqcocoa.dylib", "platforms/libqoffscreen.dylib", "platforms/libqminimal.dylib",
                  "styles/libqmacstyle.dylib", "imageformats/libqjpeg.dylib",
                  "platforms/libqoffscreen.so", "platforms/libqxcb.so"]:
            write(os.path.join(self.plugins, p), "stand-in " + p + "\n")
        self.deploy_log = os.path.join(self.tmp, "macdeployqt.log")
        self.macdeployqt = os.path.join(self.tmp, "bin", "macdeployqt")
        write(self.macdeployqt, FAKE_MACDEPLOYQT, 0o755)
        for name, script in FAKE_MAC_TOOLS.items():
            write(os.path.join(self.tmp, "bin", name), script, 0o755)
        self.launcher = os.path.join(self.tmp, "corvane-launcher")
        write(self.launcher, "#!/bin/sh\nexit 0\nminos=11.0\n", 0o755)
        self.libarchive = os.path.join(self.tmp, "lib", "libarchive.13.dylib")
        write(self.libarchive, "minos=11.0\n")
        self.package = os.path.join(self.tmp, "skyhold-120.hpk")
        self.run_script("make-package", "--ui", self.launcher, "--build", "120", "--out", self.package)

    def tearDown(self):
        self._tmp.cleanup()

    def run_script(self, name, *args, ok=True):
        env = dict(os.environ, FAKE_DEPLOY_LOG=self.deploy_log, FAKE_QT_PLUGINS=self.plugins,
                   PATH=os.path.join(self.tmp, "bin") + os.pathsep + os.environ["PATH"])
        r = subprocess.run([os.path.join(SCRIPTS, name)] + list(args), env=env, capture_output=True, text=True)
        if ok:
            self.assertEqual(r.returncode, 0, r.stderr)
        else:
            self.assertNotEqual(r.returncode, 0, r.stdout)
        return r

    def make_bundle(self, out, platform, ok=True, package=None, extra=()):
        return self.run_script("make-bundle", "--launcher", self.launcher, "--package", package or self.package,
                               "--out", out, "--qt-plugins", self.plugins, "--platform", platform,
                               "--macdeployqt", self.macdeployqt, "--libarchive", self.libarchive, *extra, ok=ok)

    def test_info_plist_from_the_shipped_info(self):
        write(os.path.join(self.tmp, "INFO"), INFO)
        out = os.path.join(self.tmp, "Info.plist")
        self.run_script("make-info-plist", "--info", os.path.join(self.tmp, "INFO"), "--out", out,
                        "--identifier", "com.example.corvane")
        with open(out, "rb") as f:
            plist = plistlib.load(f)
        self.assertEqual(plist, {
            "CFBundleAllowMixedLocalizations": True,
            "CFBundleDevelopmentRegion": "en",
            "CFBundleExecutable": "corvane-launcher",
            "CFBundleIdentifier": "com.example.corvane",
            "CFBundleInfoDictionaryVersion": "6.0",
            "CFBundleName": "Corvane",
            "CFBundlePackageType": "APPL",
            "CFBundleShortVersionString": "2.3",
            "CFBundleSignature": "????",
            "CFBundleVersion": "120",
            "LSMinimumSystemVersion": "10.15",
            "NSHighResolutionCapable": True,
            "NSPrincipalClass": "NSApplication",
        })
        # What macOS could not take as a bundle version, or as an identifier, makes no file at all.
        for name, info, extra in [("no [Version] group", "build_version=120\n", []),
                                  ("build that is not a number", "[Version]\nbuild_version=12a\n", []),
                                  ("no build", "[Version]\nmajor_version=1\n", []),
                                  ("identifier with markup", "[Version]\nbuild_version=1\n",
                                   ["--identifier", "a<b"]),
                                  ("minimum that is not a version", "[Version]\nbuild_version=1\n",
                                   ["--min-macos", "12.<"])]:
            with self.subTest(name):
                write(os.path.join(self.tmp, "bad"), info)
                bad_out = os.path.join(self.tmp, "bad.plist")
                self.run_script("make-info-plist", "--info", os.path.join(self.tmp, "bad"), "--out", bad_out,
                                *extra, ok=False)
                self.assertFalse(os.path.exists(bad_out))

    def test_mac_bundle_layout(self):
        out = os.path.join(self.tmp, "out", "Corvane.app")
        self.make_bundle(out, "mac")
        c = os.path.join(out, "Contents")
        with open(os.path.join(c, "Info.plist"), "rb") as f:
            plist = plistlib.load(f)
        self.assertEqual(plist["CFBundleExecutable"], "corvane-launcher")
        self.assertEqual(plist["CFBundleVersion"], "120")
        self.assertEqual(plist["CFBundleShortVersionString"], "1.0")
        # The newest minimum of the bundle's binaries (Qt's here), and the icon made from the PNG.
        self.assertEqual(plist["LSMinimumSystemVersion"], "12.3")
        self.assertEqual(plist["CFBundleIconFile"], "corvane.icns")
        self.assertTrue(os.path.getsize(os.path.join(c, "Resources", "corvane.icns")) > 0)
        # Signed again after macdeployqt voided the signatures: inside-out, ad hoc, then verified.
        with open(self.deploy_log + ".sign") as f:
            signed = [re.sub(r"\S*\.partial\.\d+/", "", line).strip() for line in f]
        plugins_signed = ["--force --sign - Corvane.app/Contents/Frameworks/" + p for p in
                          ["libarchive.13.dylib", "plugins/imageformats/libqjpeg.dylib", "plugins/platforms/libqcocoa.dylib",
                           "plugins/platforms/libqoffscreen.dylib", "plugins/styles/libqmacstyle.dylib"]]
        self.assertEqual(signed, plugins_signed + ["--force --sign - Corvane.app/Contents/Frameworks/QtCore.framework",
                                                   "--force --sign - Corvane.app",
                                                   "--verify --strict --verbose=2 Corvane.app"])
        with open(os.path.join(c, "PkgInfo")) as f:
            self.assertEqual(f.read(), "APPL????")
        self.assertTrue(os.stat(os.path.join(c, "MacOS", "corvane-launcher")).st_mode & stat.S_IXUSR)
        # macdeployqt ran on the bundle being assembled, with the plug-ins it leaves out named.
        with open(self.deploy_log) as f:
            args = f.read().split()
        self.assertTrue(args[0].endswith("/Corvane.app"), args)
        self.assertIn("-executable=" + args[0] + "/Contents/PlugIns/platforms/libqoffscreen.dylib", args)
        # libarchive, loaded only for an upgrade, which nothing the executable names brings in.
        self.assertIn("-executable=" + args[0] + "/Contents/Frameworks/libarchive.13.dylib", args)
        # Every plug-in where the launcher looks, re-pointed at the bundle's frameworks; no PlugIns.
        plugins = os.path.join(c, "Frameworks", "plugins")
        self.assertEqual(tree(plugins), ["imageformats", "imageformats/libqjpeg.dylib", "platforms",
                                         "platforms/libqcocoa.dylib", "platforms/libqoffscreen.dylib", "styles",
                                         "styles/libqmacstyle.dylib"])
        for p in ["platforms/libqoffscreen.dylib", "styles/libqmacstyle.dylib"]:
            with open(os.path.join(plugins, p)) as f:
                self.assertIn("@executable_path/../Frameworks/QtCore", f.read(), p)
        self.assertFalse(os.path.exists(os.path.join(c, "PlugIns")))
        self.assertTrue(os.path.isfile(os.path.join(c, "Frameworks/QtCore.framework/Versions/5/QtCore")))
        with open(os.path.join(c, "Resources", "qt.conf")) as f:
            self.assertEqual(f.read(), "[Paths]\nPlugins = Frameworks/plugins\n")
        self.assertEqual(os.listdir(os.path.dirname(out)), ["Corvane.app"])
        self.expect_package_recorded(c)

    def test_linux_bundle_layout(self):
        out = os.path.join(self.tmp, "Corvane.app")
        self.make_bundle(out, "linux")
        c = os.path.join(out, "Contents")
        self.assertEqual(tree(os.path.join(c, "Frameworks", "plugins")),
                         ["platforms", "platforms/libqoffscreen.so", "platforms/libqxcb.so"])
        self.assertFalse(os.path.exists(self.deploy_log))
        self.expect_package_recorded(c)

    def expect_package_recorded(self, contents):
        shipped = os.path.join(contents, "Resources", "package", "skyhold.hpk")
        self.assertEqual(sha256(shipped), sha256(self.package))
        with open(shipped + ".sha256") as f:
            self.assertEqual(f.read(), sha256(shipped) + "  skyhold.hpk\n")
        with open(os.path.join(contents, "Resources", "INFO")) as f:
            self.assertIn("build_version=120\n", f.read())

    def test_refused_inputs_leave_nothing(self):
        # A package that no longer matches the digest made with it; a plug-in folder without the mac style.
        damaged = os.path.join(self.tmp, "damaged.hpk")
        with open(self.package, "rb") as f:
            data = f.read()
        write(damaged, data[:len(data) // 2])
        write(damaged + ".sha256", sha256(self.package) + "  damaged.hpk\n")
        out = os.path.join(self.tmp, "out", "Corvane.app")
        r = self.make_bundle(out, "linux", ok=False, package=damaged)
        self.assertIn("does not match its digest", r.stderr)
        # A package larger than the launcher takes.
        write(damaged, b"\0" * (1024 * 1024 + 1))
        os.remove(damaged + ".sha256")
        r = self.make_bundle(out, "linux", ok=False, package=damaged, extra=("--max-package-mib", "1"))
        self.assertIn("more than the 1 MiB the launcher takes", r.stderr)
        os.remove(os.path.join(self.plugins, "styles", "libqmacstyle.dylib"))
        r = self.make_bundle(out, "mac", ok=False)
        self.assertIn("no styles/libqmacstyle.dylib", r.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "out")) and os.listdir(os.path.join(self.tmp, "out")))


class MacWorkflowTest(unittest.TestCase):
    """The macOS workflow cannot run here: it parses, runs on both architectures, builds, bundles, checks
    the bundle and its signature and runs CTest, then does the same for a release and runs the
    benchmarks against it, in that order, and every command it runs is a script of the repository or a
    tool a hosted Mac has."""

    TOOLS = {"cmake", "ctest", "codesign", "brew", "python3"}

    def test_workflow_parses_and_runs_only_what_exists(self):
        try:
            import yaml
        except ImportError:
            if sys.platform == "darwin":
                self.skipTest("no PyYAML on this Mac")
            raise
        with open(os.path.join(ROOT, ".github", "workflows", "macos.yml")) as f:
            workflow = yaml.safe_load(f)
        (job,) = workflow["jobs"].values()
        self.assertEqual({r["runner"] for r in job["strategy"]["matrix"]["include"]}, {"macos-15", "macos-15-intel"})
        runs = [step["run"] for step in job["steps"] if "run" in step]
        order = ["-DCORVANE_TESTS=ON", "cmake --build build -j", "--target bundle", "check-bundle build/Corvane.app",
                 "codesign --verify --strict", "ctest --test-dir build", "-DCORVANE_TESTS=OFF",
                 "cmake --build build-release", "check-bundle build-release/Corvane.app",
                 "--verbose=2 build-release/Corvane.app", "bench/run-all"]
        self.assertEqual([next(i for i, r in enumerate(runs) if w in r) for w in order],
                         sorted(next(i for i, r in enumerate(runs) if w in r) for w in order))
        for run in runs:
            for line in run.splitlines():
                command = line.split()[0]
                with self.subTest(line=line):
                    if "/" in command:
                        self.assertTrue(os.access(os.path.join(ROOT, command), os.X_OK), command)
                    else:
                        self.assertIn(command, self.TOOLS)


class BrewBottlesTest(unittest.TestCase):
    """scripts/brew-bottles against a stand-in brew that answers as Homebrew's info and deps do: a formula
    named, or one it needs, without a bottle for this Mac stops the workflow before Homebrew builds it, and
    says which in the job's summary."""

    # name: (aliases, dependencies, bottled here, disabled)
    FORMULAE = {"qt@5": ([], ["glib", "webp"], True, False), "icu4c@77": (["icu4c"], [], True, False),
                "glib": ([], ["pcre2"], True, False), "pcre2": ([], [], True, False), "webp": ([], [], True, False)}
    FAKE_BREW = """#!/usr/bin/env python3
import json, sys
table = json.load(open(sys.argv[0] + ".json"))
def canonical(n): return next(k for k, v in table.items() if n == k or n in v[0])
def deps(n): return [d for x in table[n][1] for d in [x] + deps(x)]
cmd, args = sys.argv[1], [a for a in sys.argv[2:] if not a.startswith("--")]
if cmd == "deps":
    print("\\n".join(sorted({d for a in args for d in deps(canonical(a))})))
elif "--json=v2" in sys.argv:
    print(json.dumps({"formulae": [{"name": canonical(a), "disabled": table[canonical(a)][3]} for a in args]}))
else:
    for a in args:
        print("==> %s: stable 1.0%s [keg-only]" % (a, " (bottled)" if table[a][2] else ""))
        print("Required: none")
"""

    def run_bottles(self, formulae, *args):
        with tempfile.TemporaryDirectory(prefix="brew-bottles-") as tmp:
            write(os.path.join(tmp, "bin", "brew"), self.FAKE_BREW, 0o755)
            with open(os.path.join(tmp, "bin", "brew.json"), "w") as f:
                json.dump(formulae, f)
            write(os.path.join(tmp, "bin", "sw_vers"), "#!/bin/sh\necho 15.6\n", 0o755)
            summary = os.path.join(tmp, "summary.md")
            env = dict(os.environ, GITHUB_STEP_SUMMARY=summary, GITHUB_ACTIONS="",
                       PATH=os.path.join(tmp, "bin") + os.pathsep + os.environ["PATH"])
            r = subprocess.run([os.path.join(SCRIPTS, "brew-bottles"), *args], env=env, capture_output=True,
                               text=True)
            with open(summary) as f:
                return r.returncode, f.read()

    def test_what_would_be_built_from_source_stops_the_job(self):
        status, summary = self.run_bottles(self.FORMULAE, "qt@5", "icu4c")
        self.assertEqual(status, 0, summary)
        self.assertIn("All 5 formulae", summary)
        no_webp_bottle = dict(self.FORMULAE, webp=([], [], False, False))
        disabled_qt = dict(self.FORMULAE, **{"qt@5": ([], ["glib", "webp"], True, True)})
        for name, formulae, args, expected_status, expected in [
                ("a dependency without a bottle", no_webp_bottle, [], 1, "Stopped before installing.** No bottle"),
                ("the same, building allowed", no_webp_bottle, ["--allow-source"], 0, "webp would be built"),
                ("a disabled formula, building allowed", disabled_qt, ["--allow-source"], 1,
                 "Disabled in Homebrew: qt@5")]:
            with self.subTest(name):
                status, summary = self.run_bottles(formulae, *args, "qt@5", "icu4c")
                self.assertEqual(status, expected_status, summary)
                self.assertIn(expected, summary)


class MacShellTest(unittest.TestCase):
    """The scripts a Mac user or the macOS workflow runs use what macOS has: bash 3.2 and the BSD tools."""

    SCRIPTS = ["setup", "test", "make-package", "make-bundle", "make-info-plist", "brew-bottles", "../bench/run-all"]
    # What bash 3.2 or the BSD tools lack, as it would be written.
    FORBIDDEN = [(r"\bmapfile\b|\breadarray\b", "bash 4's mapfile"),
                 (r"\bdeclare -A\b|\blocal -A\b", "bash 4's associative arrays"),
                 (r"\$\{[A-Za-z_][A-Za-z0-9_]*(,,|\^\^)", "bash 4's case conversion"),
                 (r";&|;;&", "bash 4's case fall-through"),
                 (r"\bsed -i\b", "GNU sed -i (BSD sed needs a suffix)"),
                 (r"\breadlink -f\b", "GNU readlink -f"),
                 (r"\bstat -c\b", "GNU stat -c"),
                 (r"-printf\b", "GNU find -printf"),
                 (r"mktemp .*--suffix", "GNU mktemp --suffix"),
                 (r"\bnproc\b", "GNU nproc (getconf _NPROCESSORS_ONLN works on both)"),
                 (r"bsdtar\"? -c", "a package packed with a Mac's metadata (--no-mac-metadata)")]

    def test_no_gnu_only_options_or_bash4_features(self):
        import re
        for name in self.SCRIPTS:
            with open(os.path.join(SCRIPTS, name)) as f:
                lines = f.read().splitlines()
            for n, line in enumerate(lines, 1):
                code = line.split(" #", 1)[0] if not line.lstrip().startswith("#") else ""
                for pattern, what in self.FORBIDDEN:
                    with self.subTest(script=name, line=n, what=what):
                        self.assertIsNone(re.search(pattern, code), f"{name}:{n}: {what}: {line.strip()}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
