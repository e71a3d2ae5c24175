#!/usr/bin/python3
"""How far one set of pictures lies from another, for bench/peers: per pair of same-named files
in two folders, the mean absolute difference and the largest difference of each channel.

Prints one line per file: "name<TAB>mean R<TAB>mean G<TAB>mean B<TAB>max R<TAB>max G<TAB>max B",
or "name<TAB>FAIL<TAB>message" when a pair cannot be compared (missing, or sizes differ).
"""

import os
import sys

from PIL import Image, ImageChops, ImageStat


def compare(reference, candidate):
    with Image.open(reference) as a, Image.open(candidate) as b:
        a = a.convert("RGB")
        b = b.convert("RGB")
        if a.size != b.size:
            raise ValueError(f"sizes differ: {a.size} and {b.size}")
        difference = ImageChops.difference(a, b)
        means = ImageStat.Stat(difference).mean
        largest = [high for _, high in difference.getextrema()]
    return means, largest


def main():
    if len(sys.argv) != 3:
        print("Usage: peers_compare.py REFERENCE-FOLDER CANDIDATE-FOLDER", file=sys.stderr)
        return 2
    reference_folder, candidate_folder = sys.argv[1:]
    for name in sorted(os.listdir(reference_folder)):
        try:
            means, largest = compare(os.path.join(reference_folder, name),
                                     os.path.join(candidate_folder, name))
        except Exception as error:  # one bad pair must not hide the others
            print(f"{name}\tFAIL\t{str(error).replace(chr(9), ' ')}", flush=True)
            continue
        print("\t".join([name] + [f"{m:.3f}" for m in means] + [str(x) for x in largest]),
              flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
