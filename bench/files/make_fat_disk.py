#!/usr/bin/env python3
# Writes a full 1.2 MB FAT12 disk (77 x 2 x 8 x 1,024 bytes) as a D88 image:
# a BPB, two FATs, 192 root entries, and 24 files of pseudo-random bytes that
# take every cluster. Usage: make_fat_disk.py OUT.d88
import struct, sys

out = sys.argv[1]
spt, heads, cyl, bps = 8, 2, 77, 1024
total = spt * heads * cyl
sec = [bytearray(bps) for _ in range(total)]
boot = sec[0]
boot[0:3] = b'\xEB\x3C\x90'; boot[3:11] = b'BENCHFAT'
struct.pack_into('<HBHBHHBHHH', boot, 0x0B, bps, 1, 1, 2, 192, total, 0xFE, 2, spt, heads)
data_start = 1 + 2 * 2 + 192 * 32 // bps
clusters = total - data_start
fat = bytearray(2 * bps)
def setfat(c, v):
    o = c * 3 // 2
    if c & 1: fat[o] = (fat[o] & 0x0F) | ((v << 4) & 0xF0); fat[o + 1] = (v >> 4) & 0xFF
    else: fat[o] = v & 0xFF; fat[o + 1] = (fat[o + 1] & 0xF0) | ((v >> 8) & 0x0F)
setfat(0, 0xFFE); setfat(1, 0xFFF)
nfiles = 24
per = clusters // nfiles
c = 2
root = bytearray(192 * 32)
x = 12345
for i in range(nfiles):
    n = per if i < nfiles - 1 else clusters - per * (nfiles - 1)
    size = n * bps - 100
    first = c
    for k in range(n):
        setfat(c, c + 1 if k < n - 1 else 0xFFF)
        s = sec[data_start + c - 2]
        for j in range(0, bps, 4):
            x = (x * 1103515245 + 12345) & 0x7FFFFFFF
            s[j:j + 4] = struct.pack('<I', x)
        c += 1
    name = ('FILE%02d' % i).ljust(8).encode() + b'BIN'
    root[i * 32:i * 32 + 11] = name
    root[i * 32 + 11] = 0x20
    struct.pack_into('<HH', root, i * 32 + 0x16, 0x8C20, 0x5A8F)  # 2025-04-15 17:33
    struct.pack_into('<HI', root, i * 32 + 0x1A, first, size)
for copy in range(2):
    for k in range(2):
        sec[1 + copy * 2 + k][:] = fat[k * bps:(k + 1) * bps]
for k in range(6):
    sec[5 + k][:] = root[k * bps:(k + 1) * bps]
img = bytearray(0x2B0)
img[0:4] = b'FULL'; img[0x1B] = 0x20
off = 0x2B0
tracks = cyl * heads
body = bytearray()
for t in range(tracks):
    struct.pack_into('<I', img, 0x20 + 4 * t, off + len(body))
    for r in range(spt):
        body += struct.pack('<BBBBHBBB5xH', t // 2, t % 2, r + 1, 3, spt, 0, 0, 0, bps) + sec[t * spt + r]
img += body
struct.pack_into('<I', img, 0x1C, len(img))
open(out, 'wb').write(img)
