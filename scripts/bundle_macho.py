"""The Mach-O files of an application bundle as dyld sees them, read with macholib so that the same
reading runs on Linux and on a Mac: each file's architectures, minimum macOS, the libraries it names
and its LC_RPATHs, and where dyld looks for a named library. Shared by check-bundle and
deploy-libraries; not a program of its own.
"""
import os
import sys

# Debian's python3-macholib lies in Debian's own package folder, which a Python first on PATH that is
# not Debian's (pyenv, a virtual environment) does not search; macholib is plain Python, so any
# Python 3 can use it from there.
DEBIAN_PACKAGES = "/usr/lib/python3/dist-packages"
try:
    import macholib  # noqa: F401
except ImportError:
    if os.path.isdir(os.path.join(DEBIAN_PACKAGES, "macholib")):
        sys.path.append(DEBIAN_PACKAGES)
try:
    from macholib import mach_o
    from macholib.MachO import MachO
    from macholib.ptypes import sizeof
    from macholib.util import is_platform_file
except ImportError:
    sys.exit(f"{os.path.basename(sys.argv[0])}: needs Python 3's macholib "
             "(Debian: apt-get install python3-macholib; macOS: pip install macholib)")

# The load commands by which a file names a library that dyld loads with it.
LOADS = {
    mach_o.LC_LOAD_DYLIB: "LC_LOAD_DYLIB",
    mach_o.LC_LOAD_WEAK_DYLIB: "LC_LOAD_WEAK_DYLIB",
    mach_o.LC_REEXPORT_DYLIB: "LC_REEXPORT_DYLIB",
    mach_o.LC_LOAD_UPWARD_DYLIB: "LC_LOAD_UPWARD_DYLIB",
}
PLATFORM_MACOS = 1  # LC_BUILD_VERSION's platform


def is_system(name):
    """A library of macOS itself, which no bundle carries."""
    return name.startswith(("/usr/lib/", "/System/"))


def version_text(version):
    """A version as load commands pack it (xxxx.yy.zz in nibbles) as text: 11.0, 10.15.4."""
    parts = [version >> 16, (version >> 8) & 0xFF, version & 0xFF]
    return ".".join(str(p) for p in (parts if parts[2] else parts[:2]))


def _string(lc, cmd, data, offset):
    """The text a load command holds at `offset` from its start."""
    start = offset - sizeof(lc.__class__) - sizeof(cmd.__class__)
    return data[start:data.find(b"\0", start)].decode("utf-8", "surrogateescape")


class Image:
    """One Mach-O file, thin or fat; its slices' commands together, each text once, in order."""

    def __init__(self, path):
        self.path = path
        self.archs = []     # "arm64", "x86_64", ...
        self.loads = []     # (load command, library name)
        self.rpaths = []    # LC_RPATH texts
        self.minimums = []  # (arch, packed version): LC_BUILD_VERSION's minos or LC_VERSION_MIN_MACOSX
        # Newer linkers write commands this macholib may not know; none of them matters here.
        for header in MachO(path, allow_unknown_load_commands=True).headers:
            arch = str(mach_o.CPU_TYPE_NAMES.get(header.header.cputype, header.header.cputype)).lower()
            self.archs.append(arch)
            for lc, cmd, data in header.commands:
                if lc.cmd in LOADS:
                    load = (LOADS[lc.cmd], _string(lc, cmd, data, cmd.name))
                    if load not in self.loads:
                        self.loads.append(load)
                elif lc.cmd == mach_o.LC_RPATH:
                    rpath = _string(lc, cmd, data, cmd.path)
                    if rpath not in self.rpaths:
                        self.rpaths.append(rpath)
                elif lc.cmd == mach_o.LC_BUILD_VERSION and cmd.platform == PLATFORM_MACOS:
                    self.minimums.append((arch, cmd.minos))
                elif lc.cmd == mach_o.LC_VERSION_MIN_MACOSX:
                    self.minimums.append((arch, cmd.version))


def macho_files(folder):
    """Every Mach-O file below `folder` (links are not followed), sorted."""
    return sorted(os.path.join(d, n) for d, _, names in os.walk(folder) for n in names
                  if is_platform_file(os.path.join(d, n)))


def expand(name, loader, executable_dir):
    """(path, movable) for a library name or an LC_RPATH of the file `loader`: @executable_path is
    `executable_dir`, @loader_path the loader's folder, and such a path moves with the bundle; an
    absolute path stays where it is. None for any other form."""
    for token, base in (("@executable_path", executable_dir), ("@loader_path", os.path.dirname(loader))):
        if name == token or name.startswith(token + "/"):
            return os.path.normpath(os.path.join(base, name[len(token):].lstrip("/"))), True
    return (os.path.normpath(name), False) if name.startswith("/") else None


def candidates(name, loader, executable_dir, rpaths):
    """The (path, movable) pairs dyld tries, in order, for library `name` named by `loader`; `rpaths`
    are the expanded LC_RPATHs of the loading chain, the loader's own first."""
    if name.startswith("@rpath/"):
        rest = name[len("@rpath/"):]
        return [(os.path.normpath(os.path.join(path, rest)), movable) for path, movable in rpaths]
    found = expand(name, loader, executable_dir)
    return [found] if found else []


def expanded_rpaths(image, executable_dir):
    """The image's own LC_RPATHs as (path, movable), in order."""
    return [e for e in (expand(r, image.path, executable_dir) for r in image.rpaths) if e]


def inside(path, folder):
    """Whether `path`, links resolved, lies in `folder`."""
    real, top = os.path.realpath(path), os.path.realpath(folder)
    return os.path.commonpath([real, top]) == top


def locate(name, loader, executable_dir, rpaths, bundle):
    """(file, None) when dyld finds library `name` of `loader` in the bundle, links resolved; (None,
    what is wrong) otherwise. A path that does not move with the bundle (an absolute name, or one
    through an absolute LC_RPATH) leads outside it wherever it points; of the @rpath candidates,
    dyld takes the first that exists."""
    tried = candidates(name, loader, executable_dir, rpaths)
    for path, movable in tried:
        if movable and inside(path, bundle):
            if os.path.isfile(path):
                return os.path.realpath(path), None
        elif os.path.isfile(path) or not name.startswith("@rpath/"):
            return None, "leads outside the bundle"
    if name.startswith("@rpath/"):
        if any(movable and inside(path, bundle) for path, movable in tried):
            return None, "in no folder of the bundle that an LC_RPATH of the loading chain names"
        return None, "no LC_RPATH of the loading chain leads into the bundle"
    if not tried:
        return None, "a form dyld does not resolve"
    return None, "no such file in the bundle"
