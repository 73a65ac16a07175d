#!/usr/bin/env python3
"""The scripts that make the package and the launcher bundle, run here as they run on a Mac: the
Info.plist read back with plistlib, the macOS layout assembled around real macOS binaries (linked with
zig 0.11, as the macOS compile tier fetches it) and a stand-in macdeployqt, the package's SHA-256
recorded in the bundle, and check-bundle on small bundles, sound and broken; and the scripts a Mac
user runs kept to what macOS has (bash 3.2, BSD tools).

    bundle_scripts_test.py <source folder> <the build's corvane-launcher>
"""
import hashlib
import json
import os
import platform
import plistlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

LAUNCHER = sys.argv.pop(2) if len(sys.argv) > 2 else None
ROOT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPTS = os.path.join(ROOT, "scripts")

# What the real macdeployqt does without -executable, as far as make-bundle relies on it: the cocoa
# plug-in and the image formats into Contents/PlugIns; then, for the executable and every *.dylib in
# the bundle, each library named by an absolute path (not macOS's) copied in (a framework as
# <Name>.framework/...), the name made @executable_path/../Frameworks/... and the copy processed in
# turn; @loader_path and @rpath names left alone.
FAKE_MACDEPLOYQT = """#!/usr/bin/env python3
import os, plistlib, shutil, subprocess, sys
import bundle_macho as macho
app = sys.argv[1]
c = os.path.join(app, "Contents")
for p in ["platforms/libqcocoa.dylib", "imageformats/libqjpeg.dylib"]:
    os.makedirs(os.path.dirname(os.path.join(c, "PlugIns", p)), exist_ok=True)
    shutil.copy(os.path.join(os.environ["FAKE_QT_PLUGINS"], p), os.path.join(c, "PlugIns", p))
with open(os.path.join(c, "Info.plist"), "rb") as f:
    queue = [os.path.join(c, "MacOS", plistlib.load(f)["CFBundleExecutable"])]
queue += sorted(os.path.join(d, n) for d, _, names in os.walk(app) for n in names if n.endswith(".dylib"))
with open(os.environ["FAKE_DEPLOY_LOG"], "w") as log:
    print(*sys.argv[1:], file=log)
    print(*(os.path.relpath(p, app) for p in queue), file=log)
while queue:
    path = queue.pop(0)
    for _, name in macho.Image(path).loads:
        if name.startswith("/") and not macho.is_system(name) and os.path.isfile(name):
            rel = name.rsplit("/lib/", 1)[1]
            copy, deployed = os.path.join(c, "Frameworks", rel), "@executable_path/../Frameworks/" + rel
            if not os.path.exists(copy):
                os.makedirs(os.path.dirname(copy), exist_ok=True)
                queue.append(shutil.copy(name, copy))
            subprocess.run(["install_name_tool", "-change", name, deployed, path], check=True)
"""

# macOS's own tools as make-bundle uses them: codesign (logged), sips and iconutil (copies); otool,
# install_name_tool and lipo are llvm's (MachO.tools).
FAKE_MAC_TOOLS = {
    "codesign": '#!/bin/sh\necho "$*" >> "$FAKE_DEPLOY_LOG.sign"\n',
    "sips": '#!/bin/sh\nwhile [ "$1" != --out ]; do src=$1; shift; done\ncp "$src" "$2"\n',
    "iconutil": '#!/bin/sh\ncat "$3"/*.png > "$5"\n',
}


class MachO:
    """Small macOS binaries, linked once per run with zig 0.11 for macOS 11 and changed with llvm's
    install_name_tool, otool and lipo (Debian's llvm-14): a Homebrew-like prefix with Qt, ICU and
    libarchive and its plug-ins, and a sound mini-bundle. Skips the test only when zig cannot be had."""

    _made = None
    LLVM = {"install_name_tool": "llvm-install-name-tool-14", "otool": "llvm-otool-14",
            "lipo": "llvm-lipo-14"}

    @classmethod
    def get(cls, test):
        if cls._made is None:
            try:
                cls._made = cls()
            except unittest.SkipTest as e:
                cls._made = str(e)
        if isinstance(cls._made, str):
            test.skipTest(cls._made)
        return cls._made

    def __init__(self):
        if sys.platform != "linux" or platform.machine() != "x86_64":
            raise unittest.SkipTest("the pinned zig 0.11 runs on Linux x86-64 only")
        r = subprocess.run([os.path.join(SCRIPTS, "mac-compile"), "--fetch"], capture_output=True, text=True)
        if r.returncode != 0:
            raise unittest.SkipTest("zig 0.11 cannot be had (scripts/mac-compile --fetch): "
                                    + r.stderr.strip())
        self.zig = r.stdout.strip()
        self._tmp = tempfile.TemporaryDirectory(prefix="bundle-macho-")
        self.dir = self._tmp.name
        self.tools = os.path.join(self.dir, "bin")
        os.makedirs(self.tools)
        for name, llvm in self.LLVM.items():
            found = shutil.which(llvm)
            assert found, f"{llvm} is missing (scripts/setup installs llvm-14)"
            os.symlink(found, os.path.join(self.tools, name))
        self.env = dict(os.environ, ZIG_GLOBAL_CACHE_DIR=os.path.join(self.dir, "zig-cache"),
                        ZIG_LOCAL_CACHE_DIR=os.path.join(self.dir, "zig-cache"),
                        PATH=self.tools + os.pathsep + os.environ["PATH"])
        with open(os.path.join(self.dir, "f.c"), "w") as f:
            f.write("int main(void) { return 0; }\n")
        self.make_prefix()
        self.make_mini_bundle()

    def run(self, *args):
        subprocess.run(args, env=self.env, check=True, capture_output=True)

    def link(self, out, *args, arch="aarch64", macos="11.0", install_name=None):
        """An executable, or with `install_name` a library, at `out`; `args` name libraries and rpaths."""
        os.makedirs(os.path.dirname(out), exist_ok=True)
        shared = ["-shared", "-Wl,-install_name," + install_name] if install_name else []
        self.run(self.zig, "cc", "-target", f"{arch}-macos.{macos}", *shared, "-Wl,-headerpad_max_install_names",
                 "-o", out, os.path.join(self.dir, "f.c"), *args)
        return out

    def library(self, path, *args, **kw):
        return self.link(path, *args, install_name=kw.pop("install_name", path), **kw)

    def make_prefix(self):
        """brew/: Qt (QtCore for macOS 12.3, the plug-ins), ICU whose common library names its data
        library through @loader_path, as Homebrew's does, libarchive with liblzma, and a launcher."""
        brew = os.path.join(self.dir, "brew")
        self.qtcore = self.library(f"{brew}/qt/lib/QtCore.framework/Versions/5/QtCore", macos="12.3")
        data = self.library(f"{brew}/icu/lib/libicudata.74.dylib")
        icu = self.library(f"{brew}/icu/lib/libicuuc.74.dylib", data)
        self.run("install_name_tool", "-change", data, "@loader_path/libicudata.74.dylib", icu)
        self.libarchive = self.library(f"{brew}/archive/lib/libarchive.13.dylib",
                                       self.library(f"{brew}/xz/lib/liblzma.5.dylib"))
        self.plugins = f"{brew}/qt/plugins"
        for p in ["platforms/libqcocoa.dylib", "platforms/libqoffscreen.dylib", "styles/libqmacstyle.dylib",
                  "imageformats/libqjpeg.dylib"]:
            self.library(f"{self.plugins}/{p}", self.qtcore)
        self.launcher = self.link(f"{brew}/build/corvane-launcher", self.qtcore, icu)

    def make_mini_bundle(self):
        """mini/Mini.app: the launcher loads libA through its LC_RPATH; libA loads libB through @rpath
        too, which only the launcher's LC_RPATH reaches; a plug-in loads libA via @loader_path."""
        self.mini = os.path.join(self.dir, "mini", "Mini.app")
        c = os.path.join(self.mini, "Contents")
        for arch, folder in [("x86_64", os.path.join(self.dir, "x86_64")), ("aarch64", c)]:
            lib_b = self.library(f"{folder}/Frameworks/libB.dylib", arch=arch, install_name="@rpath/libB.dylib")
            lib_a = self.library(f"{folder}/Frameworks/libA.dylib", lib_b, arch=arch, install_name="@rpath/libA.dylib")
            self.link(f"{folder}/MacOS/launcher", lib_a, "-Wl,-rpath,@executable_path/../Frameworks", arch=arch)
        plugin = self.library(f"{c}/Frameworks/plugins/platforms/libp.dylib", lib_a)
        self.run("install_name_tool", "-change", "@rpath/libA.dylib", "@loader_path/../../libA.dylib", plugin)
        with open(os.path.join(c, "Info.plist"), "wb") as f:
            plistlib.dump({"CFBundleExecutable": "launcher", "LSMinimumSystemVersion": "11.0"}, f)
        self.launcher_x86_64 = os.path.join(self.dir, "x86_64", "MacOS", "launcher")


def tearDownModule():
    if isinstance(MachO._made, MachO):
        MachO._made._tmp.cleanup()


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
        self.tools = []
        self.run_script("make-package", "--ui", self.launcher, "--build", "120", "--out", self.package)

    def tearDown(self):
        self._tmp.cleanup()

    def run_script(self, name, *args, ok=True):
        env = dict(os.environ, FAKE_DEPLOY_LOG=self.deploy_log, FAKE_QT_PLUGINS=self.plugins, PYTHONPATH=SCRIPTS,
                   PYTHONDONTWRITEBYTECODE="1",
                   PATH=os.pathsep.join([os.path.join(self.tmp, "bin")] + self.tools + [os.environ["PATH"]]))
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
        m = MachO.get(self)
        self.launcher, self.libarchive, self.plugins, self.tools = m.launcher, m.libarchive, m.plugins, [m.tools]
        out = os.path.join(self.tmp, "out", "Corvane.app")
        r = self.make_bundle(out, "mac")
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
        # macdeployqt ran on the bundle being assembled, given no -executable, and found there the
        # plug-ins it leaves out and libarchive (whose liblzma it then deployed).
        with open(self.deploy_log) as f:
            args, processed = f.read().splitlines()
        self.assertTrue(args.split()[0].endswith("/Corvane.app"), args)
        self.assertNotIn("-executable", args)
        for p in ["Contents/Frameworks/libarchive.13.dylib", "Contents/PlugIns/platforms/libqoffscreen.dylib",
                  "Contents/PlugIns/styles/libqmacstyle.dylib"]:
            self.assertIn(p, processed.split())
        # ICU's data library, which macdeployqt leaves out, deployed under the name that leads there from
        # any bundle's place; the bundle checked before signing.
        self.assertIn("Contents/Frameworks/libicudata.74.dylib from ", r.stdout)
        ids = subprocess.run(["otool", "-D", f"{c}/Frameworks/libicudata.74.dylib"], env=m.env, capture_output=True,
                             text=True).stdout
        self.assertIn("\n@executable_path/../Frameworks/libicudata.74.dylib\n", ids)
        self.assertIn("Mach-O files load from within the bundle", r.stdout)
        # Signed again after the install names changed: inside-out, ad hoc, then verified.
        with open(self.deploy_log + ".sign") as f:
            signed = [re.sub(r"\S*\.partial\.\d+/", "", line).strip() for line in f]
        plugins_signed = ["--force --sign - Corvane.app/Contents/Frameworks/" + p for p in
                          ["libarchive.13.dylib", "libicudata.74.dylib", "libicuuc.74.dylib", "liblzma.5.dylib",
                           "plugins/imageformats/libqjpeg.dylib", "plugins/platforms/libqcocoa.dylib",
                           "plugins/platforms/libqoffscreen.dylib", "plugins/styles/libqmacstyle.dylib"]]
        self.assertEqual(signed, plugins_signed + ["--force --sign - Corvane.app/Contents/Frameworks/QtCore.framework",
                                                   "--force --sign - Corvane.app",
                                                   "--verify --strict --verbose=2 Corvane.app"])
        with open(os.path.join(c, "PkgInfo")) as f:
            self.assertEqual(f.read(), "APPL????")
        # Every plug-in where the launcher looks; no PlugIns.
        self.assertEqual(tree(os.path.join(c, "Frameworks", "plugins")),
                         ["imageformats", "imageformats/libqjpeg.dylib", "platforms", "platforms/libqcocoa.dylib",
                          "platforms/libqoffscreen.dylib", "styles", "styles/libqmacstyle.dylib"])
        self.assertFalse(os.path.exists(os.path.join(c, "PlugIns")))
        with open(os.path.join(c, "Resources", "qt.conf")) as f:
            self.assertEqual(f.read(), "[Paths]\nPlugins = Frameworks/plugins\n")
        self.assertEqual(os.listdir(os.path.dirname(out)), ["Corvane.app"])
        self.expect_package_recorded(c)
        # A plug-in naming a library that is nowhere: check-bundle says so and no bundle is made.
        shutil.rmtree(out)
        gone = "/opt/homebrew/lib/libgone.dylib"
        style = os.path.join(self.tmp, "plugins", "styles", "libqmacstyle.dylib")
        shutil.copytree(m.plugins, os.path.dirname(os.path.dirname(style)))
        m.run("install_name_tool", "-change", m.qtcore, gone, style)
        self.plugins = os.path.dirname(os.path.dirname(style))
        r = self.make_bundle(out, "mac", ok=False)
        self.assertIn(f"check-bundle: Contents/Frameworks/plugins/styles/libqmacstyle.dylib: LC_LOAD_DYLIB {gone}: "
                      "leads outside the bundle\n", r.stdout)
        self.assertEqual(os.listdir(os.path.dirname(out)), [])

    def test_linux_bundle_layout(self):
        # The build's own launcher, built with the tests: refused for a release bundle, taken for a test one.
        self.assertTrue(LAUNCHER, "name the build's corvane-launcher after the source folder")
        self.launcher = LAUNCHER
        out = os.path.join(self.tmp, "Corvane.app")
        r = self.make_bundle(out, "linux", ok=False)
        self.assertIn("is a test build (CORVANE_TESTS)", r.stderr)
        self.assertFalse(os.path.exists(out))
        self.make_bundle(out, "linux", extra=("--test-bundle",))
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


class CheckBundleTest(unittest.TestCase):
    """check-bundle on a small bundle of real macOS binaries: the sound one passes, and a copy of it
    with each fault fails with that fault's line."""

    def test_sound_bundle_passes_and_each_fault_is_named(self):
        m = MachO.get(self)
        a, launcher = "Contents/Frameworks/libA.dylib", "Contents/MacOS/launcher"
        cases = [  # (what is wrong, how it is made in a copy of the sound bundle, the line that says so)
            ("nothing", lambda app: None, None),
            ("a library missing", lambda app: os.remove(f"{app}/{a}"),
             "Contents/Frameworks/plugins/platforms/libp.dylib: LC_LOAD_DYLIB @loader_path/../../libA.dylib: "
             "no such file in the bundle"),
            ("a library named by its Homebrew path",
             lambda app: m.run("install_name_tool", "-change", "@rpath/libB.dylib", "/opt/homebrew/lib/libB.dylib",
                               f"{app}/{a}"),
             f"{a}: LC_LOAD_DYLIB /opt/homebrew/lib/libB.dylib: leads outside the bundle"),
            ("an @rpath that no LC_RPATH reaches",
             lambda app: m.run("install_name_tool", "-delete_rpath", "@executable_path/../Frameworks",
                               f"{app}/{launcher}"),
             f"{launcher}: LC_LOAD_DYLIB @rpath/libA.dylib: no LC_RPATH of the loading chain leads into the bundle"),
            ("a launcher's architecture missing",  # the launcher made fat (arm64 and x86_64), the rest not
             lambda app: m.run("lipo", "-create", f"{app}/{launcher}", m.launcher_x86_64, "-output", f"{app}/{launcher}"),
             "Contents/Frameworks/libB.dylib: lacks x86_64, which the launcher has (it has arm64)"),
            ("a minimum above Info.plist's",
             lambda app: write(f"{app}/Contents/Info.plist",
                               plistlib.dumps({"CFBundleExecutable": "launcher", "LSMinimumSystemVersion": "10.15"})),
             f"{a}: arm64 needs macOS 11.0, above LSMinimumSystemVersion 10.15"),
        ]
        with tempfile.TemporaryDirectory(prefix="check-bundle-") as tmp:
            for name, make_fault, fault in cases:
                with self.subTest(name):
                    app = os.path.join(tmp, name.replace(" ", "-"), "Mini.app")
                    shutil.copytree(m.mini, app, symlinks=True)
                    make_fault(app)
                    r = subprocess.run([os.path.join(SCRIPTS, "check-bundle"), app], capture_output=True, text=True)
                    if fault is None:
                        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                    else:
                        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                        self.assertIn("check-bundle: " + fault + "\n", r.stdout)


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
