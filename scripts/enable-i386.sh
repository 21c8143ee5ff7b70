#!/bin/bash
# Makes 32-bit x86 Linux programs (the 32-bit Wine loader) runnable.
# Where the kernel runs them natively nothing is changed; where its IA-32
# emulation is off, they are handed to qemu-i386-static through binfmt_misc.
set -euo pipefail

LOADER=/lib/ld-linux.so.2
QEMU=/usr/bin/qemu-i386-static
BINFMT=/proc/sys/fs/binfmt_misc

can_run_i386() {
  "$LOADER" --version >/dev/null 2>&1
}

if [ ! -e "$LOADER" ]; then
  echo "enable-i386: $LOADER is missing (install libc6:i386, e.g. with wine32:i386)" >&2
  exit 1
fi

# A qemu-i386 handler registered by some other package would take 32-bit
# programs over even where the kernel runs them itself, fifty times slower:
# switch it off when the kernel turns out to run them without it.
if [ -e "$BINFMT/qemu-i386" ] && grep -qx enabled "$BINFMT/qemu-i386"; then
  echo 0 > "$BINFMT/qemu-i386"
  if can_run_i386; then
    echo "enable-i386: the kernel runs 32-bit x86 programs: switched the qemu-i386 handler off"
    exit 0
  fi
  echo 1 > "$BINFMT/qemu-i386"
fi

if can_run_i386; then
  echo "enable-i386: 32-bit x86 programs run"
  exit 0
fi

if [ ! -x "$QEMU" ]; then
  echo "enable-i386: the kernel runs no 32-bit x86 code and $QEMU is missing (install qemu-user-static)" >&2
  exit 1
fi

if [ ! -e "$BINFMT/register" ]; then
  mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null || {
    echo "enable-i386: cannot mount binfmt_misc on $BINFMT (needs root and a kernel with binfmt_misc)" >&2
    exit 1
  }
fi

if [ -e "$BINFMT/qemu-i386" ]; then
  # Registered already (perhaps by binfmt-support), maybe switched off.
  grep -qx enabled "$BINFMT/qemu-i386" || echo 1 > "$BINFMT/qemu-i386"
else
  # The kernel decodes the \x escapes itself. Flag F opens the interpreter
  # now, so it also works inside other mount namespaces and chroots.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU"':F' \
    > "$BINFMT/register" || {
      echo "enable-i386: registering $QEMU with binfmt_misc failed" >&2
      exit 1
    }
fi

if can_run_i386; then
  echo "enable-i386: 32-bit x86 programs run through $QEMU"
  exit 0
fi
echo "enable-i386: 32-bit x86 programs still do not run, even through $QEMU" >&2
exit 1
