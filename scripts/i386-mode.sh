#!/bin/bash
# Tells how 32-bit x86 programs (the 32-bit Wine loader) run on this machine.
# Prints one line, "native: HOW", "emulated: HOW" or "none: HOW", and exits 0.
# "native" means the kernel runs them itself: the loader answered and no
# qemu-i386 handler is enabled in binfmt_misc to take them over.
set -uo pipefail

LOADER=/lib/ld-linux.so.2
ENTRY=/proc/sys/fs/binfmt_misc/qemu-i386

if [ ! -e "$LOADER" ]; then
  echo "none: $LOADER is missing (it comes with wine32:i386)"
  exit 0
fi

started=$(date +%s%N)
if ! timeout 120 "$LOADER" --version >/dev/null 2>&1; then
  echo "none: $LOADER --version did not answer (IA-32 emulation off and no qemu-i386 handler)"
  exit 0
fi
ms=$(( ($(date +%s%N) - started) / 1000000 ))

if [ -e "$ENTRY" ] && grep -qx enabled "$ENTRY"; then
  echo "emulated: $LOADER --version answered in $ms ms through the enabled qemu-i386 handler in binfmt_misc"
else
  echo "native: $LOADER --version answered in $ms ms with no qemu-i386 handler in binfmt_misc"
fi
