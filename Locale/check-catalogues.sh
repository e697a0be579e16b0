#!/usr/bin/env bash
# Checks that the Italian and German catalogues translate every user text of
# the code as it is now: the texts are extracted afresh (extract-texts.sh),
# and the check fails when a text is missing from a catalogue, or is fuzzy or
# untranslated there, or when a translation does not fit its format string.
# It prints the messages that are wrong. After a text change in the code,
# run Locale/extract-texts.sh and bring it/default.po and de/default.po up to
# date (msgmerge --no-fuzzy-matching --update LANG/default.po default.pot).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
languages=${*:-it de}
# Some texts break their lines with \r on purpose (message boxes); the
# gettext tools' warning about each of them is no news.
exec 2> >(grep --line-buffered -v "should not contain the '\\\\r' escape sequence" >&2)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! "$here/extract-texts.sh" "$work/current.pot"; then
  echo "FAIL: the texts of the code could not be extracted" >&2
  exit 1
fi
# One line per msgid, so that a line number of msgcmp names a message.
msgcat --no-wrap "$work/current.pot" -o "$work/flat.pot"
total=$(grep -c '^msgid ' "$work/current.pot")
total=$((total - 1))   # the header
if ! cmp -s <(grep -v '^"PO-Revision-Date' "$work/current.pot") \
            <(grep -v '^"PO-Revision-Date' "$here/default.pot"); then
  echo "note: Locale/default.pot is not the extraction of the current code (run Locale/extract-texts.sh)"
fi

# The message ids of a catalogue, one a line as written in the file (without
# the header and the obsolete entries).
list_ids() {
  msgcat --no-wrap --no-location "$1" | awk '
    function body(s) { return substr(s, 2, length(s) - 2) }
    /^msgid /{id=body(substr($0, 7)); inid=1; next}
    /^"/{if (inid) id=id body($0); next}
    /^msgstr/{if (inid && id != "") print "  \"" id "\""; inid=0}'
}
list_ids "$work/current.pot" > "$work/ids.txt"

failed=0
# Texts xgettext cannot see: a constant that reaches Tr() must be defined
# through N_(), and a box of the windows (dialogs::Error and the rest, a
# prompt's Error, Inform and Confirm) must not get a bare literal. The
# command line speaks English only and is left out.
sources() { (cd "$root" && find core plot gui programs/desktop programs/station tools -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort); }
root=$(dirname "$here")
unmarked=$(
  cd "$root" || exit
  sources | xargs grep -hoE '\b(Tr|T)\(\s*k[A-Za-z0-9_]+\s*\)' | sed -E 's/^.*\(\s*(k[A-Za-z0-9_]+).*$/\1/' | sort -u |
    while read -r name; do
      sources | xargs grep -nE "\\b$name\\s*(\\[\\])?\\s*=\\s*\"" | sed 's/^/  /'
    done
  sources | xargs grep -nE '(dialogs::(Error|Information|Warning|Confirm)|\b[A-Za-z_]*[Pp]rompt[A-Za-z_]*\s*(\.|->)\s*(Error|Inform|Confirm))\(\s*(QStringLiteral\(|QString::from[A-Za-z0-9]+\(|QLatin1String\(|std::string\()?"' | sed 's/^/  /'
)
if [[ -n $unmarked ]]; then
  echo "FAIL: user texts not marked for the catalogues (wrap them in N_() or Tr()):"
  echo "$unmarked"
  failed=1
fi
for lang in $languages; do
  po=$here/$lang/default.po
  problems=0
  if [[ ! -f $po ]]; then
    echo "FAIL $lang: $po does not exist"
    failed=1
    continue
  fi
  # Ids of the code that the catalogue does not have at all.
  if ! msgcmp --use-fuzzy --use-untranslated "$po" "$work/flat.pot" >"$work/msgcmp.txt" 2>&1; then
    echo "FAIL $lang: texts of the code missing from $lang/default.po:"
    if grep -q 'this message is used but not defined' "$work/msgcmp.txt"; then
      # msgcmp names the line of the msgstr; show the msgid just above it.
      sed -n 's/^.*flat\.pot:\([0-9]\+\): this message is used but not defined.*$/\1/p' "$work/msgcmp.txt" |
        while read -r line; do
          awk -v at="$line" 'function body(s) { return substr(s, 2, length(s) - 2) }
                             /^msgid /{id=body(substr($0, 7)); next}
                             /^"/{id=id body($0); next}
                             NR==at{print "  \"" id "\""; exit}' "$work/flat.pot"
        done
    else
      sed 's/^/  /' "$work/msgcmp.txt"
    fi
    problems=1
  fi
  # Fuzzy or untranslated in the catalogue, among the ids of the code.
  msgattrib --no-obsolete --only-fuzzy "$po" -o "$work/fuzzy.po"
  if [[ -s $work/fuzzy.po ]] && list_ids "$work/fuzzy.po" | grep -Fx -f "$work/ids.txt" >"$work/list.txt"; then
    echo "FAIL $lang: fuzzy messages in $lang/default.po:"
    cat "$work/list.txt"
    problems=1
  fi
  msgattrib --no-obsolete --untranslated "$po" -o "$work/untranslated.po"
  if [[ -s $work/untranslated.po ]] && list_ids "$work/untranslated.po" | grep -Fx -f "$work/ids.txt" >"$work/list.txt"; then
    echo "FAIL $lang: untranslated messages in $lang/default.po:"
    cat "$work/list.txt"
    problems=1
  fi
  # The catalogue reduced to the ids of the code, with their flags as in the code.
  msgmerge --quiet --no-fuzzy-matching "$po" "$work/current.pot" -o "$work/$lang.po" ||
    { echo "FAIL $lang: msgmerge failed"; failed=1; continue; }
  # Format strings (c-format and the rest) and header, as msgfmt --check sees them.
  if ! msgfmt --check --output-file=/dev/null "$work/$lang.po" 2>"$work/msgfmt.txt"; then
    echo "FAIL $lang: msgfmt --check:"
    sed "s|$work/$lang.po|$lang/default.po (merged)|" "$work/msgfmt.txt" | sed 's/^/  /'
    problems=1
  fi
  # A text broken in lines with \r keeps as many breaks in its translation.
  msgcat --no-wrap --no-location "$work/$lang.po" | awk '
    function body(s) { return substr(s, 2, length(s) - 2) }
    function breaks(s,  t) { t = s; return gsub(/\\r/, "", t) }
    function done() { if (f == "str" && id != "" && str != "" && breaks(id) != breaks(str))
                        print "  \"" id "\"  (" breaks(id) " \\r, translation " breaks(str) ")" }
    /^msgid /{done(); f="id"; id=body(substr($0, 7)); str=""; next}
    /^msgstr /{f="str"; str=body(substr($0, 8)); next}
    /^"/{if (f == "id") id=id body($0); else if (f == "str") str=str body($0); next}
    {done(); f=""}
    END{done()}' >"$work/list.txt"
  if [[ -s $work/list.txt ]]; then
    echo "FAIL $lang: translations that lose or add \\r line breaks:"
    cat "$work/list.txt"
    problems=1
  fi
  if ((problems)); then
    failed=1
  else
    echo "ok $lang: all $total texts of the code translated"
  fi
done
exit $failed
