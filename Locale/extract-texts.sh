#!/usr/bin/env bash
# Extracts the user texts of the program (the English literals inside Tr(),
# T() and N_() in core/, plot/, gui/, programs/ and tools/) into a .pot file.
#   Locale/extract-texts.sh [OUTPUT]      default: Locale/default.pot
# File references carry no line numbers and the header no creation date, so
# the file changes only when the texts change.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${1:-$here/default.pot}
case $out in /*) ;; *) out=$PWD/$out ;; esac
tmp=$(mktemp)
err=$(mktemp)
trap 'rm -f "$tmp" "$err"' EXIT
cd "$root"
find core plot gui programs tools -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort |
  xgettext --language=C++ --from-code=UTF-8 \
    --keyword=Tr --keyword=T --keyword=N_ \
    --add-comments=TRANSLATORS: --add-location=file --sort-by-file \
    --package-name=KALO-SQM --msgid-bugs-address= \
    --files-from=- --output="$tmp" 2>"$err" || { cat "$err" >&2; exit 1; }
# The texts have no bug address, and some break their lines with \r on
# purpose (message boxes): xgettext's reminders about both are no news.
sed -e '/--msgid-bugs-address was not specified/,/--msgid-bugs-address command line option/d' \
    -e "/should not contain the '\\\\r' escape sequence/d" "$err" >&2
sed -e '1,4c\# User texts of KALO-SQM, extracted by Locale/extract-texts.sh.' \
    -e '/^"POT-Creation-Date: /d' "$tmp" > "$out"
