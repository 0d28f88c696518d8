#!/usr/bin/env bash
# Brings every resources/translations/*.ts up to date with the texts in the code: new texts
# come in as unfinished (the translation test then fails until they are translated), texts
# gone from the code are dropped. Run from anywhere; needs qt6-l10n-tools.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
lupdate="${LUPDATE:-/usr/lib/qt6/bin/lupdate}"
cd "$root"
for ts in resources/translations/*.ts; do
  "$lupdate" -I . -no-obsolete -locations none -extensions cpp,h app ui model -ts "$ts"
done
# What is left to translate, per file.
for ts in resources/translations/*.ts; do
  left=$(grep -c 'type="unfinished"' "$ts" || true)
  echo "$ts: $left unfinished"
done
