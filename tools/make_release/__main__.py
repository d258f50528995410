"""make_release: publishes one version of the client for the updater.

    python3 tools/make_release SOURCE VERSION BASE_URL OUT [options]

SOURCE is the folder of the client version, VERSION its release number
(never below the newest one already in OUT without --allow-older),
BASE_URL the [update] url the updater downloads from (ending with "/"), and
OUT the folder that is published at BASE_URL. Only the Python standard
library is used, so it runs on any publisher machine; signing also needs the
openssl command (Debian package openssl).

Signed releases (an updater built with the publisher's public key refuses
every manifest that is not signed by one of its keys):

    python3 tools/make_release --make-key-pair PREFIX
        writes PREFIX.private.pem (owner-only; keep it off the build and
        release machines' shared folders, never in version control) and
        PREFIX.public.pem (give it to the build: VELISK_MANIFEST_PUBLIC_KEYS)
    python3 tools/make_release SOURCE VERSION BASE_URL OUT --sign-key PREFIX.private.pem
        (or the variable VELISK_RELEASE_SIGN_KEY naming that file; without a
        key the tool refuses to publish unless --unsigned is given)
        signs ProgramConfig.zdb with ECDSA P-256 over SHA-256 (openssl) and
        adds the 64-byte r||s signature as ProgramConfig.zdb.sig to the
        manifest archive; signs version.ini the same way into
        <VERSION>/version.ini.sig, which the client downloads beside it
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # leave no caches in the folder the tool is run from
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from ini_keys import check_setting  # noqa: E402
from release import ReleaseError, make_release  # noqa: E402
from signing import SigningError, make_key_pair  # noqa: E402


def _setting(text):
    try:
        target, value = text.split("=", 1)
        section, key = target.split(".", 1)
    except ValueError:
        raise argparse.ArgumentTypeError("expected SECTION.KEY=VALUE, got %r" % text)
    if not section or not key:
        raise argparse.ArgumentTypeError("expected SECTION.KEY=VALUE, got %r" % text)
    refused = check_setting(section, key)
    if refused:
        raise argparse.ArgumentTypeError(refused)
    return section, key, value


def main(argv=None):
    parser = argparse.ArgumentParser(prog="make_release", description=__doc__.split("\n")[0],
                                     epilog=__doc__.split("\n\n", 3)[3],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("source", nargs="?", help="folder holding the client version")
    parser.add_argument("version", nargs="?", type=int, help="release number")
    parser.add_argument("base_url", nargs="?", help="download base, the [update] url (ends with '/')")
    parser.add_argument("out", nargs="?", help="folder published at the download base")
    parser.add_argument("--sign-key", metavar="PRIVATE.pem",
                        help="sign the manifest and version.ini with this ECDSA P-256 private key (PEM, openssl)")
    parser.add_argument("--make-key-pair", metavar="PREFIX",
                        help="only write a new key pair PREFIX.private.pem and PREFIX.public.pem")
    parser.add_argument("--version-name", help="[update] versionName (default v<VERSION>)")
    parser.add_argument("--ini", help="version.ini template (default SOURCE/version.ini if present)")
    parser.add_argument("--notes", help="UTF-8 file with the release notes ([updateInfo])")
    parser.add_argument("--set", dest="settings", action="append", type=_setting, default=[],
                        metavar="SECTION.KEY=VALUE",
                        help="set a version.ini key that the updater reads (repeatable; see ini_keys.py)")
    parser.add_argument("--server", dest="servers", action="append", default=[],
                        help="ConfigServer row of the manifest (repeatable; default BASE_URL)")
    parser.add_argument("--exclude", dest="excludes", action="append", default=[],
                        metavar="PATTERN", help="leave out names matching PATTERN (repeatable)")
    parser.add_argument("--force", action="store_true", help="replace OUT/VERSION if it exists")
    parser.add_argument("--unsigned", action="store_true",
                        help="publish without a signing key (updaters built with keys refuse such a release)")
    parser.add_argument("--allow-older", action="store_true",
                        help="publish a version below the newest one in OUT (updaters with keys refuse it)")
    parser.add_argument("--dry-run", action="store_true",
                        help="print what the release would change against the newest one in OUT; write nothing")
    args = parser.parse_args(argv)
    if args.make_key_pair:
        try:
            for path in make_key_pair(args.make_key_pair):
                print("wrote %s" % path)
        except (SigningError, OSError) as error:
            print("make_release: %s" % error, file=sys.stderr)
            return 1
        return 0
    if args.out is None:
        parser.error("SOURCE, VERSION, BASE_URL and OUT are needed to publish a release")
    try:
        make_release(args.source, args.version, args.base_url, args.out,
                     version_name=args.version_name, ini_template=args.ini, notes=args.notes,
                     settings=args.settings, servers=args.servers, excludes=args.excludes,
                     force=args.force, sign_key=args.sign_key or os.environ.get("VELISK_RELEASE_SIGN_KEY"),
                     unsigned=args.unsigned, allow_older=args.allow_older, dry_run=args.dry_run)
    except (ReleaseError, SigningError, OSError, ValueError) as error:
        print("make_release: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
