#!/usr/bin/env bash
# The per-user install in a fresh home whose name holds a blank: the release
# folder from `cmake --install`, install.sh --autostart, valid desktop entries
# and metainfo, the theme icons; the menu entry's Exec line starts the program,
# which keeps its batch beside itself; --uninstall refuses while it runs,
# then removes exactly what was installed and keeps the user's batch and log;
# --purge takes those too. A system-wide or unwritable folder is refused.
# Usage: installed.sh BUILD-DIR
# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"
build=$1
d=$E2E_DIR
app_id=org.quillmere.Quillmere
start_x

stage=$d/stage
cmake --install "$build" --prefix "$stage" >/dev/null || fail "cmake --install failed"
export HOME="$d/home dir"
unset XDG_DATA_HOME XDG_CONFIG_HOME
dest=$HOME/.local/opt/quillmere
apps=$HOME/.local/share/applications
# What the user had before: an applications folder with an entry of another
# program, and an icon of another program.
mkdir -p "$apps" "$HOME/.local/share/icons/hicolor/48x48/apps"
echo other >"$apps/other.desktop"
echo other >"$HOME/.local/share/icons/hicolor/48x48/apps/other.png"
tree() { (cd "$HOME" && find . -mindepth 1 | sort); }
before=$(tree)

# -- refused folders --------------------------------------------------------
if [ "$(id -u)" = 0 ]; then
  out=$("$stage/install.sh" --dir "$d/system/quillmere" 2>&1) && fail "root installed outside its home"
  grep -q 'refusing a system-wide install' <<<"$out" || fail "unclear refusal: $out"
else
  mkdir -m 555 "$d/system"
  out=$("$stage/install.sh" --dir "$d/system/quillmere" 2>&1) && fail "installed into an unwritable folder"
  grep -q 'not writable' <<<"$out" || fail "unclear refusal: $out"
fi
[ ! -e "$d/system/quillmere" ] || fail "a refused install left $d/system/quillmere"
[ "$(tree)" = "$before" ] || fail "a refused install wrote into the home"

# -- install ----------------------------------------------------------------
"$stage/install.sh" --autostart >/dev/null || fail "install.sh failed"
entry=$apps/$app_id.desktop
auto=$HOME/.config/autostart/$app_id.desktop
for f in "$dest/quillmere" "$dest/install.sh"; do [ -x "$f" ] || fail "$f missing"; done
desktop-file-validate "$entry" || fail "the menu entry is not valid"
desktop-file-validate "$auto" || fail "the autostart entry is not valid"
appstreamcli validate --no-net "$HOME/.local/share/metainfo/$app_id.metainfo.xml" >/dev/null \
  || fail "the metainfo is not valid"
for size in 16 32 48 64 128 256; do
  png=$HOME/.local/share/icons/hicolor/${size}x$size/apps/$app_id.png
  [ "$(identify -format '%w %h' "$png" 2>/dev/null)" = "$size $size" ] || fail "no ${size}px icon"
done
grep -qx "Icon=$app_id" "$entry" || fail "the entry names another icon"

# -- the menu entry starts the program --------------------------------------
# Exec as a desktop would read it: string escapes first, then the quoting.
exec_line=$(sed -n 's/^Exec=//p' "$entry")
exec_line=${exec_line//\\\\/\\}
exec_line=${exec_line//%%/%}
eval "cmd=($exec_line)"
# shellcheck disable=SC2154  # set by the eval
[ "${cmd[0]}" = "$dest/quillmere" ] || fail "Exec runs '${cmd[0]}'"
mkdir "$d/work"
(cd "$d/work" && exec "${cmd[@]}") &
app=$!
E2E_PIDS+=("$app")
answer "First time" Return
wait_window "Quillmere" >/dev/null || fail "the installed program shows no window"
[ -f "$dest/BATCH.INI" ] || fail "no BATCH.INI beside the installed program"
[ -z "$(ls -A "$d/work")" ] || fail "files written into the working directory"
printf 'a line\r\n' >"$dest/syncfile.log"

out=$("$dest/install.sh" --uninstall 2>&1) && fail "uninstalled under the running program"
grep -q 'is running' <<<"$out" || fail "unclear refusal: $out"
{ [ -x "$dest/quillmere" ] && [ -f "$entry" ]; } || fail "a refused uninstall removed files"
kill "$app"
wait "$app" 2>/dev/null || true

# -- a second install over the first keeps the batch ------------------------
"$stage/install.sh" >/dev/null || fail "the second install failed"
[ -f "$auto" ] || fail "the second install dropped the autostart entry"
[ "$(head -c 7 "$dest/BATCH.INI")" = "[batch]" ] || fail "the second install touched BATCH.INI"

# -- uninstall: only the user's files stay ----------------------------------
"$dest/install.sh" --uninstall >/dev/null || fail "uninstall failed"
# The batch, its working copy and the log are the user's.
kept=(./.local/opt ./.local/opt/quillmere)
for f in BATCH.INI batch.new batch.dat syncfile.log; do
  [ ! -e "$dest/$f" ] || kept+=("./.local/opt/quillmere/$f")
done
{ [ -f "$dest/BATCH.INI" ] && [ -f "$dest/syncfile.log" ]; } || fail "--uninstall took the batch or the log"
expected=$(printf '%s\n' "$before" "${kept[@]}" | sort)
[ "$(tree)" = "$expected" ] || fail "after --uninstall: $(diff <(echo "$expected") <(tree))"

"$stage/install.sh" >/dev/null || fail "the install after an uninstall failed"
"$dest/install.sh" --uninstall --purge >/dev/null || fail "uninstall --purge failed"
expected=$(printf '%s\n' "$before" ./.local/opt | sort)
[ "$(tree)" = "$expected" ] || fail "after --purge: $(diff <(echo "$expected") <(tree))"
echo "installed: ok"
