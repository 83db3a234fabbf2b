#!/bin/sh
# SPDX-License-Identifier: MIT
# tools/fuzz against a stand-in fuzzer that adds one input to the directory it
# writes to: a plain run must leave the committed corpus alone, and only
# UPDATE_CORPUS=1 merges into it.
set -eu
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/tree/tools" "$tmp/tree/fuzz/corpus/fuzz_fake" "$tmp/build"
cp "$src/tools/fuzz" "$tmp/tree/tools/fuzz"
printf 'seed' >"$tmp/tree/fuzz/corpus/fuzz_fake/seed"
cat >"$tmp/build/fuzz_fake" <<'FAKE'
#!/bin/sh
# libFuzzer's habits: options start with '-', the first directory is written
# to, a merge copies every later directory's files into the first.
merge=0; out=""
for a in "$@"; do
    case $a in
    -merge=1|-set_cover_merge=1) merge=1 ;;
    -*) ;;
    *) if [ -z "$out" ]; then out=$a; elif [ $merge = 1 ]; then cp "$a"/* "$out"/ 2>/dev/null || true; fi ;;
    esac
done
[ $merge = 1 ] || printf 'found' >"$out/new-input"
FAKE
chmod +x "$tmp/build/fuzz_fake"

fail() { echo "FAIL: $*"; exit 1; }
"$tmp/tree/tools/fuzz" "$tmp/build" 1 >/dev/null
[ "$(ls "$tmp/tree/fuzz/corpus/fuzz_fake")" = seed ] || fail "a plain run changed the committed corpus"
[ "$(cat "$tmp/tree/fuzz/corpus/fuzz_fake/seed")" = seed ] || fail "the seed was rewritten"
[ -f "$tmp/build/corpus/fuzz_fake/new-input" ] || fail "the new input was not kept in the build folder"
[ ! -e "$tmp/tree/fuzz/artifacts" ] || fail "artifacts went into the tree"

UPDATE_CORPUS=1 "$tmp/tree/tools/fuzz" "$tmp/build" 1 >/dev/null
[ -f "$tmp/tree/fuzz/corpus/fuzz_fake/new-input" ] || fail "UPDATE_CORPUS=1 did not merge the new input"
[ -f "$tmp/tree/fuzz/corpus/fuzz_fake/seed" ] || fail "UPDATE_CORPUS=1 lost the seed"
echo "ok"
