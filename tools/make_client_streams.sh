#!/bin/sh
# Makes the receipt streams of tests/receipt/clients/ anew with the point-of-sale client libraries
# of the npm registry: installs the versions pinned below into a scratch folder (never into the
# source tree), runs tools/client_streams.cjs there, and writes each library's .bin and the
# manifest (manifest.json: the library, its version, what each file holds and what it must print)
# into tests/receipt/clients/. Run by hand (Node 20 and npm); the tests use the committed files.
#
#   tools/make_client_streams.sh [SCRATCH]     # SCRATCH: where the libraries go (default: a new
#                                              # folder under ${TMPDIR:-/tmp}, removed at the end)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out="$here/../tests/receipt/clients"

# The libraries and the versions the committed streams were made with.
LIBRARIES="node-thermal-printer@4.6.1
@point-of-sale/receipt-printer-encoder@4.0.1
esc-pos-encoder@3.0.0
receiptline@4.0.4
escpos-buffer@4.1.0
@node-escpos/core@0.6.0"
# What the script itself uses besides: QR codes drawn as PNG pictures, and PNG decoding.
HELPERS="qr-image@3.2.0
pngjs@7.0.0"

if [ $# -ge 1 ]; then
    scratch=$1
    keep=1
    mkdir -p "$scratch"
else
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/pellory-client-streams.XXXXXX")
    keep=0
fi
cleanup() { [ "$keep" -eq 1 ] || rm -rf "$scratch"; }
trap cleanup EXIT

command -v node >/dev/null || { echo "make_client_streams: node is missing (Debian: nodejs)" >&2; exit 1; }
command -v npm >/dev/null || { echo "make_client_streams: npm is missing (Debian: npm)" >&2; exit 1; }

cd "$scratch"
[ -f package.json ] || printf '{ "name": "pellory-client-streams", "private": true }\n' > package.json
# shellcheck disable=SC2086
npm install --no-audit --no-fund --no-save --silent $(echo "$LIBRARIES $HELPERS" | tr '\n' ' ')
mkdir -p "$out"
node "$here/client_streams.cjs" "$scratch" "$out"
