// Resampler speed per kernel and path: shrinking 4000 x 3000 to 1024 x 768 and enlarging
// 640 x 480 to 1600 x 1200.
// Run: cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTZ_BUILD_BENCH=ON
//      cmake --build build --target bench_resample && build/bench/bench_resample
// (--benchmark_filter=Lanczos3 for one kernel; the reference path takes seconds per run.)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "tz/bitmap.h"
#include "tz/resample.h"

namespace {

// A photograph-like source: smooth gradients with noise, so no path meets only easy sums.
tz::Bitmap makeSource(int width, int height) {
    tz::Bitmap bitmap(width, height);
    std::mt19937 random(42);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.row(y);
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int base = (x * (c + 1) / 7 + y * (3 - c) / 5) % 256;
                const int value = std::clamp(base + noise(random), 0, 255);
                row[static_cast<std::size_t>(x) * 3 + static_cast<std::size_t>(c)] =
                    static_cast<std::uint8_t>(value);
            }
        }
    }
    return bitmap;
}

struct Size {
    int width;
    int height;
};

void resample(benchmark::State& state, const tz::KernelEntry* entry, Size from, Size to,
              tz::ResampleOptions options) {
    tz::Bitmap source = makeSource(from.width, from.height);
    tz::Bitmap destination(to.width, to.height);
    for (auto _ : state) {
        tz::resampleBitmap(source, destination, entry->function, entry->support, options);
        benchmark::DoNotOptimize(destination.pixels().data());
        benchmark::ClobberMemory();
    }
    const double sourceMegapixels = from.width * static_cast<double>(from.height) / 1e6;
    const double destinationMegapixels = to.width * static_cast<double>(to.height) / 1e6;
    state.counters["srcMP/s"] =
        benchmark::Counter(sourceMegapixels * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["dstMP/s"] =
        benchmark::Counter(destinationMegapixels * state.iterations(), benchmark::Counter::kIsRate);
}

struct Path {
    const char* name;
    tz::ResampleOptions options;
};

}  // namespace

int main(int argc, char** argv) {
    const Path paths[] = {
        {"reference", {tz::ResamplePath::Reference, 1}},
        {"portable/threads:1", {tz::ResamplePath::Portable, 1}},
        {"portable/threads:auto", {tz::ResamplePath::Portable, 0}},
        {"fast/threads:1", {tz::ResamplePath::Automatic, 1}},
        {"fast/threads:auto", {tz::ResamplePath::Automatic, 0}},
    };
    const struct {
        const char* name;
        Size from;
        Size to;
    } cases[] = {
        {"shrink_4000x3000_to_1024x768", {4000, 3000}, {1024, 768}},
        {"enlarge_640x480_to_1600x1200", {640, 480}, {1600, 1200}},
    };
    for (const auto& c : cases) {
        for (const tz::KernelEntry& entry : tz::kKernelTable) {
            for (const Path& path : paths) {
                const std::string name = std::string(c.name) + "/" + entry.name + "/" + path.name;
                auto* benchmark = benchmark::RegisterBenchmark(name.c_str(), resample, &entry,
                                                               c.from, c.to, path.options);
                benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
                if (path.options.path != tz::ResamplePath::Automatic) {
                    benchmark->Iterations(1);
                }
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
