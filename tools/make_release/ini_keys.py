"""The version.ini keys that the updater reads, with what they make it do.

`--set SECTION.KEY=VALUE` accepts only these (the release notes of
[updateInfo] are set with --notes). Which copy is read: "new" is the
version.ini of the release being installed, "installed" the one already in
the installation.
"""

# (section, key): (copy read, meaning)
KEYS = {
    ("update", "version"): ("both", "release number; the download base is url + version + '/'"),
    ("update", "url"): ("new", "download base of the release files (ends with '/')"),
    ("update", "versionName"): ("both", "version shown in the window and sent with statistics"),
    ("update", "target"): ("both", "file name of the client program in the installation"),
    ("update", "related"): ("new", "JSON list of program names ended before the update (inside the installation only)"),
    ("update", "uselessFiles"): ("new", "JSON list of files deleted after the update (never a listed or vital file)"),
    ("update", "plugin"): ("new", "folder of update plug-ins, inside the installation"),
    ("update", "firewall"): ("installed", "name of the inbound firewall rule renewed for the client"),
    ("update", "shortcut"): ("new", "name of the desktop shortcut refreshed after the update"),
    ("update", "productName"): ("new", "uninstall entry whose DisplayVersion is updated"),
    ("update", "excludexp"): ("new", "1: no update on systems older than Vista"),
    ("update", "canHide"): ("installed", "1: this installation allows hidden updates"),
    ("update", "hide"): ("new", "1: the release asks for a hidden update"),
    ("update", "minHideVersion"): ("new", "lowest installed version that may update hidden"),
    ("update", "appCode"): ("installed", "product code sent with statistics"),
    ("update", "domain"): ("installed", "domain number sent with statistics"),
    ("regKey", "appCode"): ("new", "URL scheme registered for the client (letters, digits, '+', '-', '.')"),
    ("regKey", "protocol"): ("new", "display text of the URL scheme"),
    ("regKey", "target"): ("new", "program inside the installation that opens the URL scheme"),
}


def check_setting(section, key):
    """None when the updater reads [section] key, else the reason to refuse."""
    if (section, key) in KEYS:
        return None
    if section.lower() == "updateinfo":
        return "[updateInfo] holds the release notes; set them with --notes"
    close = [k for s, k in KEYS if s.lower() == section.lower() and k.lower() == key.lower()]
    hint = " (did you mean %s.%s?)" % (section, close[0]) if close else ""
    return "the updater does not read %s.%s%s" % (section, key, hint)
