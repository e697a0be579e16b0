#!/usr/bin/env bash
# The catalogue check catches a text that cannot reach the catalogues: a
# constant passed to Tr() without N_(), and a bare literal in a window's box.
#   tests/locale/check_catches.sh SOURCE_ROOT
set -uo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for d in Locale core plot gui programs tools; do cp -r "$root/$d" "$work/"; done
rm -rf "$work"/Locale/*/LC_MESSAGES

cat >>"$work/gui/chartpicture.cpp" <<'CPP'
namespace {
constexpr const char* kBareRefusal = "A refusal nobody translates";
void ShowBare(QWidget* parent) {
    dialogs::Error(QString::fromStdString(Tr(kBareRefusal)), parent);
    dialogs::Information(QStringLiteral("A box nobody translates"), parent);
}
}  // namespace
CPP
cat >>"$work/core/site/netsync.cpp" <<'CPP'
void AskBare(IPrompt& prompt) { prompt.Confirm("A question nobody translates"); }
CPP

out=$(bash "$work/Locale/check-catalogues.sh" it de 2>&1)
rc=$?
fail=0
[[ $rc -ne 0 ]] || { echo "the check passed a tree with unmarked texts"; fail=1; }
for expected in 'gui/chartpicture.cpp:[0-9]+:constexpr const char\* kBareRefusal' \
                'gui/chartpicture.cpp:[0-9]+: +dialogs::Information\(QStringLiteral' \
                'core/site/netsync.cpp:[0-9]+:void AskBare'; do
  grep -Eq "$expected" <<<"$out" || { echo "not reported: $expected"; fail=1; }
done
# The texts marked in the real tree are not reported.
grep -q 'kUnsupportedFileType' <<<"$out" && { echo "a marked constant was reported"; fail=1; }
((fail)) && printf '%s\n' "$out"
exit $fail
