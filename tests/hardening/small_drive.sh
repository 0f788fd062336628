#!/usr/bin/env bash
# mount|unmount STATE_DIR WINEPREFIX: a 256 KiB file system (tmpfs) mapped into
# the Wine prefix as a drive letter, for the full-disk tests. mount writes the
# letter ("T:") to STATE_DIR/small-drive.letter, or "unavailable: why" when
# this user cannot mount (not root): the tests then skip and say why. As root a
# failing mount is an error. unmount undoes exactly what mount did, so the
# prefix is left as it was found.
set -u
state=$2
prefix=${TL_TEST_PREFIX:-$3}
mountpoint="$state/small-drive"
letterfile="$state/small-drive.letter"
linkfile="$state/small-drive.link"

unmount() {
  if [ -f "$linkfile" ]; then
    link=$(cat "$linkfile")
    # Only the link this script made, and only while it still points here.
    [ "$(readlink "$link" 2>/dev/null)" = "$mountpoint" ] && rm -f "$link"
    rm -f "$linkfile"
  fi
  if mountpoint -q "$mountpoint" 2>/dev/null; then
    umount "$mountpoint" || { echo "could not unmount $mountpoint" >&2; return 1; }
  fi
  [ -d "$mountpoint" ] && rmdir "$mountpoint"
  rm -f "$letterfile"
  return 0
}

case "$1" in
  mount)
    unmount || exit 1  # what an interrupted run may have left
    mkdir -p "$state"
    if [ "$(id -u)" != 0 ]; then
      echo "unavailable: mounting a small file system needs root" > "$letterfile"
      echo "small drive unavailable: not root" >&2
      exit 0
    fi
    [ -d "$prefix/dosdevices" ] || { echo "no Wine prefix at $prefix" >&2; exit 1; }
    mkdir -p "$mountpoint"
    mount -t tmpfs -o size=256k,mode=0777 tmpfs "$mountpoint" || { echo "mount failed" >&2; rmdir "$mountpoint"; exit 1; }
    for l in t u v w x y; do
      link="$prefix/dosdevices/$l:"
      if [ ! -e "$link" ] && [ ! -L "$link" ]; then
        ln -s "$mountpoint" "$link" || break
        echo "$link" > "$linkfile"
        echo "${l^^}:" > "$letterfile"
        echo "small drive ${l^^}: = $mountpoint (256 KiB)"
        exit 0
      fi
    done
    echo "no free drive letter in $prefix/dosdevices" >&2
    unmount
    exit 1 ;;
  unmount)
    unmount
    exit $? ;;
esac
echo "usage: small_drive.sh mount|unmount STATE_DIR WINEPREFIX" >&2
exit 2
