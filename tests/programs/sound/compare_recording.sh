#!/bin/sh
# Compares a recording of the mixer with the 16-bit source it played at the
# output's rate and full volume: from the first non-zero sample of each, the
# recording must hold floor(source / 2) for every sample of the source.
# Usage: compare_recording.sh source.wav recording.wav
set -e
sox "$1" -t s16 - | od -An -v -td2 -w2 > source.txt
sox "$2" -t s16 - | od -An -v -td2 -w2 > recorded.txt
awk '
  function half(x) { return x >= 0 ? int(x / 2) : -int((1 - x) / 2) }
  NR == FNR { source[n++] = $1 + 0; next }
  { recorded[m++] = $1 + 0 }
  END {
    for (s = 0; s < n && source[s] == 0; s++) {}
    for (r = 0; r < m && recorded[r] == 0; r++) {}
    if (s == n || r == m) { print "silent: source " n " samples, recording " m; exit 1 }
    if (half(source[s]) == 0) { print "the source starts too quietly to align"; exit 1 }
    if (m - r < n - s) { print "the recording holds " m - r " samples after its silence, the source " n - s; exit 1 }
    bad = 0
    for (i = 0; s + i < n; i++)
      if (recorded[r + i] != half(source[s + i])) {
        if (bad < 5) print "sample " i ": recorded " recorded[r + i] ", expected " half(source[s + i])
        bad++
      }
    if (bad) { print bad " of " n - s " samples differ"; exit 1 }
    print n - s " samples match"
  }' source.txt recorded.txt
