#!/bin/sh
# Writes a four-track module for the sound program tests: sample 1 is 4,096
# bytes of +64 at volume 64 without a loop, played at period 428 on track 0
# of row 0; one order, one pattern. Usage: make_module.sh file [tag]
set -e
out="$1"
tag="${2:-M.K.}"
{
  printf 'test tune' && head -c 11 /dev/zero          # title, 20 bytes
  printf 'sample' && head -c 16 /dev/zero             # sample 1: name, 22 bytes
  printf '\010\000\000\100\000\000\000\001'           # 2,048 words, finetune 0, volume 64, no loop
  head -c 900 /dev/zero                               # samples 2 to 31
  printf '\001\177'                                   # song length 1, restart 127
  head -c 128 /dev/zero                               # orders
  printf '%s' "$tag"
  printf '\001\254\020\000'                           # row 0, track 0: sample 1, period 428
  head -c 1020 /dev/zero                              # the rest of pattern 0
  head -c 4096 /dev/zero | tr '\000' '@'              # the sample: +64
} > "$out"
