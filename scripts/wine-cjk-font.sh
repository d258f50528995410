#!/usr/bin/env bash
# Maps the Windows face "微软雅黑" that the update window uses to an installed
# Chinese font (fonts-wqy-microhei on Debian) in a Wine prefix, so its Chinese
# text does not show as boxes. Prints nothing; warns when no such font exists.
#   scripts/wine-cjk-font.sh PREFIX
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
PREFIX=${1:?usage: wine-cjk-font.sh PREFIX}
cjk_family=$(fc-list :lang=zh family 2>/dev/null | awk -F, '!/Mono/ { print $1; exit }' || true)
if [[ -z $cjk_family ]]; then
    echo "wine-cjk-font: no Chinese font is installed (e.g. fonts-wqy-microhei); Chinese text will show as boxes" >&2
    exit 0
fi
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
python3 - "$reg" "$cjk_family" <<'PY'
import sys
text = ('Windows Registry Editor Version 5.00\r\n\r\n'
        '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        '"\u5fae\u8f6f\u96c5\u9ed1"="%s"\r\n' % sys.argv[2])
open(sys.argv[1], 'wb').write(b'\xff\xfe' + text.encode('utf-16-le'))
PY
"$REPO/scripts/wine-run.sh" "--prefix=$PREFIX" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1 || true
