#!/usr/bin/python3
"""Pillow's side of bench/peers: times open + full decode + Lanczos resize + save per file.

Runs under Debian's /usr/bin/python3 so that Debian's python3-pil is the one measured. The
timing is taken inside one interpreter, so interpreter start-up and the import are not counted.
Prints one line per file: "OK<TAB>file<TAB>best-ms<TAB>best-cpu-ms<TAB>runs" or
"FAIL<TAB>file<TAB>message". With --serve it reads requests from its input instead (one line:
size, file, output folder, runs, budget seconds; tab-separated) and answers each the same way.
"""

import argparse
import os
import sys
import time

from PIL import Image

LANCZOS = getattr(Image, "Resampling", Image).LANCZOS


def target_size(width, height, size):
    # The longer side becomes `size`; round() halves to even, like the program under test.
    longer = height if height > width else width
    factor = size / longer
    return max(1, round(width * factor)), max(1, round(height * factor))


def resize_once(source, size, output):
    with Image.open(source) as picture:
        picture.load()
        # Lanczos on a palette picture would fall back to nearest neighbour; work in RGB.
        rgb = picture if picture.mode == "RGB" else picture.convert("RGB")
        scaled = rgb.resize(target_size(rgb.width, rgb.height, size), LANCZOS)
    extension = os.path.splitext(output)[1].lower()
    if extension in (".jpg", ".jpeg", ".webp"):
        scaled.save(output, quality=89)
    else:
        scaled.save(output)


def best_of(source, size, output, runs, budget_seconds):
    best = None
    best_cpu = None
    spent = 0.0
    done = 0
    while done < runs:
        cpu_start = time.process_time()
        start = time.perf_counter()
        resize_once(source, size, output)
        elapsed = time.perf_counter() - start
        cpu = time.process_time() - cpu_start
        done += 1
        spent += elapsed
        best = elapsed if best is None else min(best, elapsed)
        best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
        if done >= 2 and spent > budget_seconds:
            break
    return best * 1000.0, best_cpu * 1000.0, done


def answer(source, size, outdir, runs, budget):
    output = os.path.join(outdir, os.path.basename(source))
    try:
        milliseconds, cpu_milliseconds, done = best_of(source, size, output, max(1, runs), budget)
    except Exception as error:  # one bad file must not hide the others
        message = str(error).replace("\t", " ").replace("\n", " ")
        return f"FAIL\t{source}\t{message}"
    return f"OK\t{source}\t{milliseconds:.3f}\t{cpu_milliseconds:.3f}\t{done}"


def serve():
    # One request per line: size, source, output folder, runs, budget seconds (tab-separated).
    for line in sys.stdin:
        fields = line.rstrip("\n").split("\t")
        if len(fields) != 5:
            print("FAIL\t-\tbad request", flush=True)
            continue
        size, source, outdir, runs, budget = fields
        os.makedirs(outdir, exist_ok=True)
        print(answer(source, int(size), outdir, int(runs), float(budget)), flush=True)
    return 0


def main():
    if sys.argv[1:] == ["--serve"]:
        return serve()
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--size", type=int, required=True)
    parser.add_argument("--out", required=True, help="folder for the outputs")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--budget", type=float, default=3.0,
                        help="seconds per file after which no third run is made")
    parser.add_argument("--no-warmup", action="store_true")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    os.makedirs(args.out, exist_ok=True)
    if not args.no_warmup:
        try:
            first = args.files[0]
            resize_once(first, args.size, os.path.join(args.out, os.path.basename(first)))
        except Exception:  # the timed pass reports the failure per file
            pass
    for source in args.files:
        print(answer(source, args.size, args.out, args.runs, args.budget), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
