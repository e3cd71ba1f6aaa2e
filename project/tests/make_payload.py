#!/usr/bin/env python3
"""Independent encoder of the package container, for cross-checking.

Writes pairs NAME.plain / NAME.payload into OUTDIR: the payload is the plain
content compressed as one zlib stream at level 9 (Python's zlib) and masked
with byte[i] ^= i % 255.

  make_payload.py OUTDIR            write the sample pairs
  make_payload.py --check PAYLOAD PLAIN
                                    decode a payload made elsewhere and compare
                                    it with its plain content (exit 1 if not equal)
"""
import hashlib
import os
import random
import sys
import zlib


def mask(data: bytes) -> bytes:
    return bytes(b ^ (i % 255) for i, b in enumerate(data))


def encode(plain: bytes) -> bytes:
    if not plain:
        return b""
    c = zlib.compressobj(level=9, method=zlib.DEFLATED, wbits=15, memLevel=8, strategy=zlib.Z_DEFAULT_STRATEGY)
    return mask(c.compress(plain) + c.flush())


def decode(payload: bytes) -> bytes:
    if not payload:
        return b""
    d = zlib.decompressobj()
    out = d.decompress(mask(payload))
    if not d.eof:
        raise ValueError("payload is not a complete zlib stream")
    return out


def samples():
    rnd = random.Random(20261208)
    yield "empty", b""
    yield "one", b"\x7f"
    yield "text", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<TSetupScript AppTitle=\"示例产品\"/>\r\n".encode("utf-8") * 40
    yield "random300", bytes(rnd.getrandbits(8) for _ in range(300))
    yield "random70k", bytes(rnd.getrandbits(8) for _ in range(70000))
    yield "zeros1m", bytes(1 << 20)


def main(argv):
    if len(argv) == 4 and argv[1] == "--check":
        with open(argv[2], "rb") as f:
            payload = f.read()
        with open(argv[3], "rb") as f:
            expected = f.read()
        plain = decode(payload)
        print(f"{argv[2]}: {len(payload)} payload bytes, {len(plain)} plain bytes, "
              f"sha256 {hashlib.sha256(plain).hexdigest()}")
        if plain != expected:
            print("decoded content differs from the plain file", file=sys.stderr)
            return 1
        return 0
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    for name, plain in samples():
        payload = encode(plain)
        assert decode(payload) == plain
        for ext, data in (("plain", plain), ("payload", payload)):
            with open(os.path.join(out, f"{name}.{ext}"), "wb") as f:
                f.write(data)
    with open(os.path.join(out, "names.txt"), "w") as f:
        f.write("\n".join(name for name, _ in samples()) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
