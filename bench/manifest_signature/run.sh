#!/usr/bin/env bash
# Cost of the manifest signature check, in one run, for manifests of several
# sizes (signed with the x86-64 tree's first test key):
#   unpack of the manifest archive (ExtractNamedFiles, under Wine)
#   AuthenticateManifest: read, SHA-256 and ECDSA P-256 with CNG (under Wine)
#   openssl dgst -sha256 -verify on the same manifest (native)
# Timings are the best of --repeat runs taken inside the program, so Wine's
# start-up is not counted. Data lives under --work, never in the repository.
#
#   bench/manifest_signature/run.sh [--build build/x86_64] [--work DIR] [--repeat 20]
# Needs VELISK_DISPLAY like the tests, python3 and openssl.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$REPO/build/x86_64
WORK=/tmp/velisk-bench-signature
REPEAT=20
while (( $# )); do
    case $1 in
        --build) BUILD=$2; shift 2;;
        --work) WORK=$2; shift 2;;
        --repeat) REPEAT=$2; shift 2;;
        *) echo "unknown option $1" >&2; exit 2;;
    esac
done
EXE=$BUILD/bin/manifest_signature_bench.exe
KEY=$BUILD/test-keys/first.private.pem
[[ -f $EXE && -f $KEY ]] || { echo "build $EXE first (cmake --build $BUILD --target manifest_signature_bench)" >&2; exit 2; }
WINE_RUN=("$REPO/scripts/wine-run.sh" "--prefix=$BUILD/wineprefix")
winpath() { echo "Z:${1//\//\\}"; }

rm -rf "$WORK"
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT
printf '[update]\r\nversion=1\r\n' >"$WORK/installed.ini"
printf '%-8s %12s %12s %14s %18s\n' rows "bytes" "unpack us" "CNG check us" "openssl verify us"
for rows in 5 10000 100000; do
    dir=$WORK/r$rows
    python3 - "$REPO/tools/make_release" "$dir" "$rows" "$KEY" <<'PY'
import os, sys, zipfile
sys.path.insert(0, sys.argv[1])
import manifest, signing
out, rows, key = sys.argv[2], int(sys.argv[3]), sys.argv[4]
os.makedirs(out)
db = os.path.join(out, "ProgramConfig.zdb")
manifest.write_manifest(db, [("bin/file%06d.dll" % i, os.urandom(20)) for i in range(rows)], ["http://b/"], 2)
sig = signing.sign_file(db, key)
with open(sig, "rb") as f:
    raw = f.read()
with zipfile.ZipFile(os.path.join(out, "ProgramConfig.zdb.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    z.write(db, "ProgramConfig.zdb")
    z.write(sig, "ProgramConfig.zdb.sig")
# DER form for openssl's own verification.
def integer(v):
    v = v.lstrip(b"\0") or b"\0"
    return b"\x02" + bytes([len(v) + (v[0] >> 7)]) + (b"\0" if v[0] & 0x80 else b"") + v
body = integer(raw[:32]) + integer(raw[32:])
with open(os.path.join(out, "sig.der"), "wb") as f:
    f.write(b"\x30" + bytes([len(body)]) + body)
PY
    mkdir -p "$dir/unpacked"
    result=$("${WINE_RUN[@]}" "$EXE" "$(winpath "$dir/ProgramConfig.zdb.zip")" "$(winpath "$dir/unpacked")" \
             "$(winpath "$WORK/installed.ini")" "$REPEAT" 2>"$dir/log.txt" | tr -d '\r')
    [[ $result == *ok=1* ]] || { echo "the check failed: $result" >&2; exit 1; }
    best=""
    for ((i = 0; i < REPEAT; i++)); do
        t0=$(date +%s%N)
        openssl dgst -sha256 -verify "$BUILD/test-keys/first.public.pem" -signature "$dir/sig.der" \
            "$dir/ProgramConfig.zdb" >/dev/null
        t=$(( ($(date +%s%N) - t0) / 1000 ))
        [[ -z $best || $t -lt $best ]] && best=$t
    done
    unpack=${result#unpack_us=}; unpack=${unpack%% *}
    check=${result#*check_us=}; check=${check%% *}
    printf '%-8s %12s %12s %14s %18s\n' "$rows" "$(stat -c %s "$dir/ProgramConfig.zdb")" "$unpack" "$check" "$best"
done
echo "(openssl's time includes its process start; the CNG check's does not include Wine's)"
