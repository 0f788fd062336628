#!/bin/sh
# register|unregister: runs 32-bit x86 Linux programs (Wine's 32-bit loader)
# through qemu-user on a kernel without IA-32 support, by a binfmt_misc entry
# of this project's own name. Flag F opens the emulator now, so it serves in
# every mount namespace. Only this entry is ever removed; binfmt_misc is
# mounted when it is not. Run as root.
#   TL_BINFMT_DIR    binfmt_misc's folder (default /proc/sys/fs/binfmt_misc)
#   TL_QEMU_I386     the emulator (default /usr/bin/qemu-i386-static)
set -u
dir=${TL_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}
qemu=${TL_QEMU_I386:-/usr/bin/qemu-i386-static}
entry=$dir/towerlink-i386
# An ELF32 little-endian i386 program, executable or shared object (the
# pattern qemu's own binfmt configuration uses).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

unregister() {
  [ -e "$entry" ] || return 0
  echo -1 > "$entry" 2>/dev/null
  [ ! -e "$entry" ] || { echo "i386-emulation: cannot remove $entry" >&2; return 1; }
}

case "${1:-}" in
  register)
    [ -x "$qemu" ] || { echo "i386-emulation: no emulator at $qemu" >&2; exit 1; }
    if [ ! -e "$dir/register" ]; then
      mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null ||
        { echo "i386-emulation: cannot mount binfmt_misc on $dir" >&2; exit 1; }
    fi
    grep -qx enabled "$dir/status" 2>/dev/null ||
      { echo "i386-emulation: binfmt_misc is disabled on this machine" >&2; exit 1; }
    unregister || exit 1
    printf ':towerlink-i386:M::%s:%s:%s:F\n' "$magic" "$mask" "$qemu" > "$dir/register" 2>/dev/null
    [ -e "$entry" ] || { echo "i386-emulation: binfmt_misc refused the entry" >&2; exit 1; }
    ;;
  unregister)
    unregister || exit 1 ;;
  *)
    echo "usage: i386-emulation.sh register|unregister" >&2; exit 2 ;;
esac
exit 0
