// Preview update for a 24 MP JPEG: what a selection change costs the user-interface thread, from
// the file to the picture in the preview window, against decoding the whole picture.
// Set TZ_PREVIEW_PHOTO to a real photograph to time that instead of the built test picture.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QRect>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "picture_bridge.h"
#include "preview_window.h"
#include "tz/bitmap.h"
#include "tz/jpeg.h"

namespace {

namespace fs = std::filesystem;

// 6000 x 4000 with smooth shading under fine grain, so the entropy decoder has a photograph's
// share of work; written once per run into the temporary folder.
fs::path testPhoto() {
    if (const char* given = std::getenv("TZ_PREVIEW_PHOTO"); given != nullptr && given[0] != 0) {
        return given;
    }
    const fs::path file = fs::temp_directory_path() / "tz-bench-preview-24mp.jpg";
    if (fs::exists(file)) {
        return file;
    }
    constexpr int kWidth = 6000;
    constexpr int kHeight = 4000;
    tz::Bitmap bitmap(kWidth, kHeight);
    std::minstd_rand grain(2016);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = bitmap.row(y);
        for (int x = 0; x < kWidth; ++x) {
            const int base[3] = {x * 200 / kWidth + 20, y * 180 / kHeight + 40,
                                 ((x / 37 + y / 53) % 7) * 25 + 30};
            for (int channel = 0; channel < 3; ++channel) {
                row[3 * x + channel] =
                    static_cast<std::uint8_t>(std::clamp(base[channel] + noise(grain), 0, 255));
            }
        }
    }
    tz::JpegImage jpeg;
    jpeg.assign(std::move(bitmap));
    jpeg.setCompressionQuality(89);
    jpeg.saveToFile(file);
    return file;
}

// One selection change as the main window makes it, on a screen of the given size: the file
// handed to the preview, decoded when the program next waits for input, shown and fitted.
void previewUpdate(benchmark::State& state) {
    const fs::path photo = testPhoto();
    const QRect screen(0, 0, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    tz::app::PreviewWindow window;
    window.setAvailableArea([screen] { return screen; });
    for (auto _ : state) {
        window.showFile(photo);
        while (window.filePending()) {
            QApplication::processEvents();
        }
    }
    state.counters["shown_width"] = window.pictureView()->width();
}
BENCHMARK(previewUpdate)
    ->Args({1920, 1080})
    ->Args({1280, 800})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The whole picture decoded, as the viewer needs it and as the preview did before.
void fullDecode(benchmark::State& state) {
    const fs::path photo = testPhoto();
    for (auto _ : state) {
        benchmark::DoNotOptimize(tz::app::loadScreenPicture(photo));
    }
}
BENCHMARK(fullDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
