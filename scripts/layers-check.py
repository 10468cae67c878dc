#!/usr/bin/env python3
"""Fails when an include runs against the house's layers: a library including a header of a
library it does not build on (a higher one, or a sibling it does not link), or, inside ui/, a file
other than the window's and the tab's including the tab's header, or one other than the tab's
including the session's. Run by .ci/run; prints every offending line."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# What each library may include besides its own headers (its CMake links, direct or through a
# library it links PUBLIC).
ALLOWED = {
    "base": set(),
    "message": {"base"},
    "pop3": {"message", "base"},
    "store": {"message", "base"},
    "rules": {"store", "message", "base"},
    "keyring": {"store", "base"},
    "oauth": set(),
    "ui": {"rules", "store", "keyring", "oauth", "pop3", "message", "base"},
    "app": {"ui", "rules", "store", "keyring", "oauth", "pop3", "message", "base"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main():
    owner = {}  # header name -> its library
    sources = []
    for lib in ALLOWED:
        for name in sorted(os.listdir(os.path.join(ROOT, lib))):
            if name.endswith(".h"):
                owner[name] = lib
            if name.endswith((".h", ".cpp")):
                sources.append((lib, name))
    problems = []
    for lib, name in sources:
        with open(os.path.join(ROOT, lib, name), encoding="utf-8") as f:
            text = f.read()
        for header in INCLUDE.findall(text):
            target = owner.get(os.path.basename(header))
            if target is None or target == lib:
                pass
            elif target not in ALLOWED[lib]:
                problems.append("%s/%s includes %s (%s may not use %s)" % (lib, name, header, lib, target))
            if header == "AccountTab.h" and not name.startswith(("MainWindow", "AccountTab")):
                problems.append("%s/%s includes the tab's header (only the window's files do)" % (lib, name))
            if header == "Pop3Session.h" and lib != "pop3" and not name.startswith("AccountTab") and lib != "app":
                problems.append("%s/%s includes the session's header (only the tab's files do)" % (lib, name))
    for p in problems:
        print("layers: " + p)
    if problems:
        return 1
    print("layers: every include runs down the house")
    return 0


if __name__ == "__main__":
    sys.exit(main())
