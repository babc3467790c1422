#!/usr/bin/env bash
# Regenerates the committed sample files in examples/ (deterministic: same bytes every run).
#   sample.ird  49152 bytes of pseudo-firmware: a small header, then code-like noise
#   sample.fdu  20480 bytes of channel list: 160 fixed-size binary channel records
# Needs only perl (always present on Debian).
set -euo pipefail
out="${1:-$(dirname "$0")/../examples}"
mkdir -p "$out"

perl -e '
  use strict; use warnings;
  binmode STDOUT;
  my $size = 49152;
  my $data = pack("A16 N N", "KESTAL-IRD-DEMO", $size, 0x00010203);
  $data .= "\0" x (64 - length $data);
  # xorshift32: reproducible on every perl, 32-bit masked.
  my $x = 0x2545F491;
  while (length $data < $size) {
    $x ^= ($x << 13) & 0xFFFFFFFF; $x ^= $x >> 17; $x ^= ($x << 5) & 0xFFFFFFFF;
    # Runs of filler now and then, as real images have.
    $data .= ($x & 0xF) == 0 ? "\xFF" x 32 : pack("N", $x);
  }
  print substr($data, 0, $size);
' > "$out/sample.ird"

perl -e '
  use strict; use warnings;
  binmode STDOUT;
  for my $n (1 .. 160) {
    my $frequency = 10700000 + ($n * 7250) % 2050000;      # kHz
    my $symbolRate = (22000, 27500, 29900, 30000)[$n % 4]; # kS/s
    my $polarity = $n % 2 ? "H" : "V";
    my $name = sprintf("Channel %03d", $n);
    my $record = pack("n N N A1 C a32 n n n n C",
                      $n, $frequency, $symbolRate, $polarity, $n % 3, $name,
                      1000 + $n, 0x100 + $n, 0x200 + $n, 0x1FFF, $n % 5 == 0 ? 1 : 0);
    print $record, "\0" x (128 - length $record);
  }
' > "$out/sample.fdu"

ls -l "$out/sample.ird" "$out/sample.fdu"
