"""make_release: publishes one version of the client for the updater.

    python3 tools/make_release SOURCE VERSION BASE_URL OUT [options]

SOURCE is the folder of the client version, VERSION its release number,
BASE_URL the [update] url the updater downloads from (ending with "/"), and
OUT the folder that is published at BASE_URL. Only the Python standard
library is used, so it runs on any publisher machine.
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # leave no caches in the folder the tool is run from
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from release import ReleaseError, make_release  # noqa: E402


def _setting(text):
    try:
        target, value = text.split("=", 1)
        section, key = target.split(".", 1)
    except ValueError:
        raise argparse.ArgumentTypeError("expected SECTION.KEY=VALUE, got %r" % text)
    if not section or not key:
        raise argparse.ArgumentTypeError("expected SECTION.KEY=VALUE, got %r" % text)
    return section, key, value


def main(argv=None):
    parser = argparse.ArgumentParser(prog="make_release", description=__doc__.split("\n")[0])
    parser.add_argument("source", help="folder holding the client version")
    parser.add_argument("version", type=int, help="release number")
    parser.add_argument("base_url", help="download base, the [update] url (ends with '/')")
    parser.add_argument("out", help="folder published at the download base")
    parser.add_argument("--version-name", help="[update] versionName (default v<VERSION>)")
    parser.add_argument("--ini", help="version.ini template (default SOURCE/version.ini if present)")
    parser.add_argument("--notes", help="UTF-8 file with the release notes ([updateInfo])")
    parser.add_argument("--set", dest="settings", action="append", type=_setting, default=[],
                        metavar="SECTION.KEY=VALUE", help="set a version.ini key (repeatable)")
    parser.add_argument("--server", dest="servers", action="append", default=[],
                        help="ConfigServer row of the manifest (repeatable; default BASE_URL)")
    parser.add_argument("--exclude", dest="excludes", action="append", default=[],
                        metavar="PATTERN", help="leave out names matching PATTERN (repeatable)")
    parser.add_argument("--force", action="store_true", help="replace OUT/VERSION if it exists")
    args = parser.parse_args(argv)
    try:
        make_release(args.source, args.version, args.base_url, args.out,
                     version_name=args.version_name, ini_template=args.ini, notes=args.notes,
                     settings=args.settings, servers=args.servers, excludes=args.excludes,
                     force=args.force)
    except (ReleaseError, OSError, ValueError) as error:
        print("make_release: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
