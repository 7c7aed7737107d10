#!/usr/bin/env bash
# Installs Quillmere for the user who runs it, or removes it again.
#
# Run from the source tree, it builds the program first; run from an
# unpacked release folder (or the installed folder), it installs that.
#
#   install.sh [--dir DIR] [--autostart | --no-autostart]
#   install.sh [--dir DIR] --uninstall [--purge]
#
# The program goes into DIR (default ~/.local/opt/quillmere), its menu entry
# into the applications folder, its icons into the hicolor theme, its
# AppStream metainfo beside them, and with --autostart an entry into the
# autostart folder. Every file written is listed in DIR/.installed-files;
# --uninstall removes exactly those and the lock file the program leaves,
# and keeps the user's BATCH.INI and syncfile.log (and the batch's working
# copies) unless --purge is given.
set -euo pipefail

app_id=org.quillmere.Quillmere
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
data_home=${XDG_DATA_HOME:-$HOME/.local/share}
config_home=${XDG_CONFIG_HOME:-$HOME/.config}
dest=$HOME/.local/opt/quillmere
autostart=keep
uninstall=0
purge=0
# The user's own files: never removed unless asked.
user_files=(BATCH.INI batch.new batch.dat syncfile.log)

die() {
  echo "install.sh: $*" >&2
  exit 1
}
usage() {
  sed -n '2,15s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

while [ $# -gt 0 ]; do
  case $1 in
    --dir)
      [ $# -ge 2 ] || die "--dir needs a folder"
      dest=$2
      shift
      ;;
    --dir=*) dest=${1#--dir=} ;;
    --autostart) autostart=yes ;;
    --no-autostart) autostart=no ;;
    --uninstall) uninstall=1 ;;
    --purge) purge=1 ;;
    -h | --help)
      usage
      exit 0
      ;;
    *) die "unknown option '$1' (see --help)" ;;
  esac
  shift
done
[ "$purge" = 1 ] && [ "$uninstall" = 0 ] && die "--purge goes with --uninstall"
case $dest in
  /*) ;;
  *) dest=$PWD/$dest ;;
esac
case $dest in
  *$'\n'*) die "a folder name with a line break is not supported" ;;
esac
dest=${dest%/}
manifest=$dest/.installed-files

# Paths this script may ever remove: inside DIR, or the program's own
# entries in the user's data and configuration folders.
ours() {
  case $1 in
    "$dest"/*) return 0 ;;
    "$data_home/applications/$app_id.desktop" | "$data_home/metainfo/$app_id.metainfo.xml" | \
      "$config_home/autostart/$app_id.desktop") return 0 ;;
    "$data_home"/icons/hicolor/*/apps/"$app_id.png") return 0 ;;
  esac
  return 1
}

# Is the program running from DIR? Uninstalling under it would pull its
# folder, and with --purge its batch, away while it writes there.
running() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null || true)" = "$dest/quillmere" ] && return 0
  done
  return 1
}

do_uninstall() {
  [ -f "$manifest" ] || die "no installation found in $dest (it has no .installed-files)"
  running && die "Quillmere is running from $dest; end it (File, Exit) and try again"
  local line dirs=()
  while IFS= read -r line; do
    case $line in
      */)
        dirs+=("${line%/}")
        ;;
      ?*)
        if ours "$line"; then
          rm -f -- "$line"
        else
          echo "install.sh: not removing $line: it is not one of the program's files" >&2
        fi
        ;;
    esac
  done <"$manifest"
  if [ "$purge" = 1 ]; then
    for line in "${user_files[@]}"; do rm -f -- "${dest:?}/$line"; done
  fi
  rm -f -- "$manifest"
  # The lock the program holds while it runs; no program holds it now.
  rm -f -- "${dest:?}/quillmere.lock"
  # Folders the install made, deepest first; only empty ones go, so any
  # that now hold something of the user's stay.
  local i
  for ((i = ${#dirs[@]} - 1; i >= 0; i--)); do
    rmdir -- "${dirs[i]}" 2>/dev/null || true
  done
  # Purged, the program's folder goes too once nothing else is in it.
  [ "$purge" = 0 ] || rmdir -- "$dest" 2>/dev/null || true
  echo "Quillmere removed from $dest."
  if [ -d "$dest" ] && [ -n "$(ls -A -- "$dest")" ]; then
    echo "Kept in $dest: $(cd "$dest" && find . -mindepth 1 -maxdepth 1 -printf '%P ')"
    [ "$purge" = 1 ] || echo "(your batch and log; --uninstall --purge removes them)"
  fi
}

if [ "$uninstall" = 1 ]; then
  do_uninstall
  exit 0
fi

# From the source tree: build, and install from a staged release folder.
stage=
if [ ! -x "$here/quillmere" ]; then
  [ -f "$here/../CMakePresets.json" ] || die "no program beside this script, and no source tree"
  (
    cd "$here/.."
    scripts/setup.sh run
    cmake --preset default >/dev/null
    # Only what is installed: the program and its icons.
    cmake --build --preset default --target quillmere qm-icons
  )
  stage=$(mktemp -d)
  trap 'rm -rf "$stage"' EXIT
  cmake --install "$here/../build/default" --prefix "$stage" >/dev/null
  here=$stage
fi
if [ ! -x "$here/quillmere" ] || [ ! -f "$here/share/metainfo/$app_id.metainfo.xml" ]; then
  die "$here is not a complete Quillmere folder"
fi

# The program writes its batch and log beside itself: its folder must be the
# user's to write. Refused: a folder this user cannot write, and, for root,
# any folder outside root's own home, which the other users could not write.
existing=$dest
while [ ! -e "$existing" ]; do existing=$(dirname "$existing"); done
if [ ! -d "$existing" ] || [ ! -w "$existing" ] || [ ! -x "$existing" ]; then
  die "cannot install into $dest: $existing is not writable by $(id -un).
Quillmere keeps its batch (BATCH.INI) and log beside its executable, so it
must be installed into a folder of the user who runs it, such as
$HOME/.local/opt/quillmere (the default)."
fi
if [ "$(id -u)" = 0 ]; then
  case $dest/ in
    "${HOME%/}"/?*) [ -n "${HOME%/}" ] || die "root's home is /: give a folder of the user who runs it" ;;
    *)
      die "refusing a system-wide install into $dest.
Quillmere keeps its batch (BATCH.INI) and log beside its executable, so
every user needs a copy in a folder of their own. Run install.sh as each
user who wants it, without sudo; it installs into ~/.local/opt/quillmere."
      ;;
  esac
fi

# What this run writes, added to what an earlier install wrote.
written=()
mkdirs() {  # mkdirs DIR: makes DIR and its missing parents, noting each
  local d=$1 missing=()
  while [ ! -d "$d" ]; do
    missing=("$d" "${missing[@]}")
    d=$(dirname "$d")
  done
  for d in "${missing[@]}"; do
    mkdir -- "$d"
    written+=("$d/")
  done
}
put() {  # put SOURCE TARGET [MODE]: replaces TARGET as a whole
  mkdirs "$(dirname "$2")"
  cp -- "$1" "$2.new"
  chmod "${3:-644}" "$2.new"
  mv -f -- "$2.new" "$2"
  written+=("$2")
}

# Desktop entry values: a path with blanks or quotes is quoted as the
# Exec key wants it, then escaped as every string value is.
exec_path() {
  local p=$1
  if [[ $p =~ ^[A-Za-z0-9/._+-]+$ ]]; then
    printf '%s' "$p"
  else
    p=${p//\\/\\\\}
    p=${p//\"/\\\"}
    p=${p//\`/\\\`}
    p=${p//\$/\\\$}
    p="\"$p\""
    p=${p//\\/\\\\}
    printf '%s' "${p//%/%%}"
  fi
}
entry() {  # entry FILE [EXTRA-LINE]: writes a desktop entry to FILE
  local tmp
  tmp=$(mktemp)
  {
    echo "[Desktop Entry]"
    echo "Type=Application"
    echo "Name=Quillmere"
    echo "GenericName=Directory Replicator"
    echo "Comment=Keep target directories replicated from source directories"
    echo "Exec=$(exec_path "$dest/quillmere")"
    echo "Icon=$app_id"
    echo "Terminal=false"
    echo "Categories=Utility;"
    echo "Keywords=copy;backup;replicate;synchronise;"
    echo "StartupNotify=false"
    [ $# -lt 2 ] || echo "$2"
  } >"$tmp"
  put "$tmp" "$1"
  rm -f -- "$tmp"
}

mkdirs "$dest"
if [ "$(cd "$here" && pwd -P)" != "$(cd "$dest" && pwd -P)" ]; then
  # The running program keeps its old executable; the new one is in place
  # for the next start.
  put "$here/quillmere" "$dest/quillmere" 755
  put "$here/install.sh" "$dest/install.sh" 755
  [ ! -f "$here/README.txt" ] || put "$here/README.txt" "$dest/README.txt"
  while IFS= read -r f; do
    put "$here/$f" "$dest/$f"
  done < <(cd "$here" && find share -type f | sort)
else
  written+=("$dest/quillmere" "$dest/install.sh")
  [ ! -f "$dest/README.txt" ] || written+=("$dest/README.txt")
  while IFS= read -r f; do written+=("$dest/$f"); done < <(cd "$dest" && find share -type f | sort)
fi

for png in "$dest"/share/icons/hicolor/*/apps/"$app_id.png"; do
  put "$png" "$data_home/icons/hicolor/${png#"$dest"/share/icons/hicolor/}"
done
put "$dest/share/metainfo/$app_id.metainfo.xml" "$data_home/metainfo/$app_id.metainfo.xml"
entry "$data_home/applications/$app_id.desktop"
[ "$autostart" != keep ] || [ ! -f "$config_home/autostart/$app_id.desktop" ] || autostart=yes
case $autostart in
  yes) entry "$config_home/autostart/$app_id.desktop" "X-GNOME-Autostart-enabled=true" ;;
  no) rm -f -- "$config_home/autostart/$app_id.desktop" ;;
esac

# The list of what is installed: an earlier one's lines first, each once.
{
  [ ! -f "$manifest" ] || cat -- "$manifest"
  printf '%s\n' "${written[@]}"
} | awk '!seen[$0]++' | while IFS= read -r line; do
  # An autostart entry taken away is no longer ours to list.
  [ -e "${line%/}" ] && printf '%s\n' "$line"
done >"$manifest.new"
mv -f -- "$manifest.new" "$manifest"

echo "Quillmere installed into $dest."
echo "Menu entry: $data_home/applications/$app_id.desktop"
[ ! -f "$config_home/autostart/$app_id.desktop" ] \
  || echo "Starts with your session: $config_home/autostart/$app_id.desktop"
echo "To remove it: $dest/install.sh --uninstall"
