#!/bin/sh
# Interrupts an orvex command at a chosen step and checks what it leaves.
#   interrupted.sh ORVEX WORKDIR SIGNAL POINT OUTPUT [BEFORE] -- ARGS...
# The command runs in WORKDIR with ORVEX_TEST_RAISE=SIGNAL@POINT. It must
# end by the signal (shell status 128 + SIGNAL). Afterwards OUTPUT must be
# absent, or equal to BEFORE when given (a replaced file survives whole);
# a SIGKILL leaves exactly one temporary file .OUTPUT.tmp-PID (removed
# here), any other signal none.
set -u
orvex=$1 dir=$2 sig=$3 point=$4 out=$5
shift 5
before=
if [ "$1" != "--" ]; then before=$1; shift; fi
shift
cd "$dir" || exit 1
if [ -n "$before" ]; then cp "$before" "$out" || exit 1; else rm -f "$out"; fi

ORVEX_TEST_RAISE="$sig@$point" "$orvex" "$@"
status=$?
if [ "$status" -ne $((128 + sig)) ]; then
  echo "exit status $status, expected $((128 + sig))"
  exit 1
fi
if [ -n "$before" ]; then
  cmp "$before" "$out" || { echo "$out was changed"; exit 1; }
  rm -f "$out"
elif [ -e "$out" ]; then
  echo "$out was left behind"
  exit 1
fi
temps=$(find . -maxdepth 1 -name ".$out.tmp-*" | wc -l)
expected=0
[ "$sig" -eq 9 ] && expected=1
if [ "$temps" -ne "$expected" ]; then
  echo "$temps temporary files left, expected $expected:"
  find . -maxdepth 1 -name ".$out.tmp-*"
  exit 1
fi
find . -maxdepth 1 -name ".$out.tmp-*" -exec rm -f {} +
echo "interrupted at $point by signal $sig: $out absent or as it was"
