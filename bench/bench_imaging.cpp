// Image printing speed: loading a 12-megapixel JPEG (decode, threshold, both encodings) against
// one decode of the same file by libjpeg-turbo's own djpeg (target: within 1.3 times), the same
// load with "Fit to paper" (decoded at a reduced scale), and thresholding, encoding and dithering
// a receipt-wide picture of grey noise (576 x 4000; Floyd-Steinberg target: under 15 ms).
#include <benchmark/benchmark.h>

#include <QImage>
#include <QImageReader>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "imaging/bit_image.h"
#include "imaging/dither.h"
#include "imaging/dot_matrix.h"
#include "imaging/fit.h"
#include "imaging/picture.h"

extern char** environ;

namespace {

using namespace pellory::imaging;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kPrintableWidth = 572;
std::string g_path;

// A gradient with noise on top, so the JPEG carries real detail like a photo does.
bool MakePicture() {
    g_path = "/tmp/pellory_bench_" + std::to_string(getpid()) + ".jpg";
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    std::mt19937 rng(42);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t noise = rng() & 0x3F;
            const uint32_t r = static_cast<uint32_t>(x * 191 / kWidth) + noise;
            const uint32_t g = static_cast<uint32_t>(y * 191 / kHeight) + (noise ^ 0x15);
            const uint32_t b = static_cast<uint32_t>((x + y) * 191 / (kWidth + kHeight)) + (noise >> 1);
            row[x] = 0xff000000u | r << 16 | g << 8 | b;
        }
    }
    return image.save(QString::fromStdString(g_path), "JPEG", 90);
}

void DecodeQImage(benchmark::State& state) {
    for (auto _ : state) {
        QImageReader reader(QString::fromStdString(g_path));
        QImage image = reader.read();
        if (image.isNull()) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}

void DecodePictureOnly(benchmark::State& state) {
    for (auto _ : state) {
        WorkingBitmap bitmap;
        if (!DecodePicture(g_path, bitmap)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(bitmap.Row(0));
    }
}

void Threshold(benchmark::State& state) {
    WorkingBitmap bitmap;
    DecodePicture(g_path, bitmap);
    DotMatrix matrix;
    for (auto _ : state) {
        ThresholdImage(bitmap, 128, matrix);
        benchmark::DoNotOptimize(matrix.dots.data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void EncodeColumns(benchmark::State& state) {
    WorkingBitmap bitmap;
    DecodePicture(g_path, bitmap);
    DotMatrix matrix;
    ThresholdImage(bitmap, 128, matrix);
    for (auto _ : state) {
        SendRows rows = EncodeColumnStripes(matrix, kDefaultColumnMode, kPrintableWidth);
        benchmark::DoNotOptimize(rows.data());
    }
}

void EncodeRasterRows(benchmark::State& state) {
    WorkingBitmap bitmap;
    DecodePicture(g_path, bitmap);
    DotMatrix matrix;
    ThresholdImage(bitmap, 128, matrix);
    for (auto _ : state) {
        RasterImage raster = EncodeRaster(matrix, kPrintableWidth);
        benchmark::DoNotOptimize(raster.data.data());
    }
}

void PipelineColumns(benchmark::State& state) {
    for (auto _ : state) {
        WorkingBitmap bitmap;
        DecodePicture(g_path, bitmap);
        DotMatrix matrix;
        ThresholdImage(bitmap, 128, matrix);
        SendRows rows = EncodeColumnStripes(matrix, kDefaultColumnMode, kPrintableWidth);
        if (rows.empty()) {
            state.SkipWithError("nothing encoded");
            break;
        }
        benchmark::DoNotOptimize(rows.data());
    }
}

void PipelineRaster(benchmark::State& state) {
    for (auto _ : state) {
        WorkingBitmap bitmap;
        DecodePicture(g_path, bitmap);
        DotMatrix matrix;
        ThresholdImage(bitmap, 128, matrix);
        RasterImage raster = EncodeRaster(matrix, kPrintableWidth);
        if (RasterCommands(raster, kDefaultRasterMode).empty()) {
            state.SkipWithError("nothing encoded");
            break;
        }
        benchmark::DoNotOptimize(raster.data.data());
    }
}

// "Load.." of the page without its widgets: one decode, the threshold, and both encodings.
void LoadBothEncodings(benchmark::State& state) {
    for (auto _ : state) {
        WorkingBitmap bitmap;
        if (!DecodePicture(g_path, bitmap)) {
            state.SkipWithError("decode failed");
            break;
        }
        DotMatrix matrix;
        ThresholdImage(bitmap, 128, matrix);
        SendRows rows = EncodeColumnStripes(matrix, kDefaultColumnMode, kPrintableWidth);
        RasterImage raster = EncodeRaster(matrix, kPrintableWidth);
        benchmark::DoNotOptimize(rows.data());
        benchmark::DoNotOptimize(raster.data.data());
    }
}

// The same with "Fit to paper" and Floyd-Steinberg: decoded at the smallest DCT scale that keeps
// the printable width, scaled down by area averaging, dithered.
void LoadFittedDithered(benchmark::State& state) {
    DecodeOptions options;
    options.reduceToWidth = 576;
    for (auto _ : state) {
        WorkingBitmap bitmap;
        if (!DecodePicture(g_path, bitmap, nullptr, options)) {
            state.SkipWithError("decode failed");
            break;
        }
        const WorkingBitmap fitted = FitToWidth(bitmap, kPrintableWidth);
        DotMatrix matrix;
        DitherImage(fitted, 128, DitherMethod::FloydSteinberg, matrix);
        SendRows rows = EncodeColumnStripes(matrix, kDefaultColumnMode, kPrintableWidth);
        RasterImage raster = EncodeRaster(matrix, kPrintableWidth);
        benchmark::DoNotOptimize(rows.data());
        benchmark::DoNotOptimize(raster.data.data());
    }
}

// 576 x 4000 grey noise, the receipt-wide picture of the encoder comparison.
const WorkingBitmap& Noise() {
    static const WorkingBitmap noise = [] {
        WorkingBitmap b(576, 4000);
        std::mt19937 rng(7);
        for (int y = 0; y < b.height(); ++y) {
            uint32_t* row = b.MutableRow(y);
            for (int x = 0; x < b.width(); ++x) {
                const uint32_t v = rng() & 0xFF;
                row[x] = 0xff000000u | v << 16 | v << 8 | v;
            }
        }
        return b;
    }();
    return noise;
}

void NoiseThresholdColumns(benchmark::State& state) {
    const WorkingBitmap& noise = Noise();
    for (auto _ : state) {
        DotMatrix matrix;
        ThresholdImage(noise, 128, matrix);
        SendRows rows = EncodeColumnStripes(matrix, kDefaultColumnMode, 576);
        benchmark::DoNotOptimize(rows.data());
    }
}

void NoiseThresholdRaster(benchmark::State& state) {
    const WorkingBitmap& noise = Noise();
    for (auto _ : state) {
        DotMatrix matrix;
        ThresholdImage(noise, 128, matrix);
        RasterImage raster = EncodeRaster(matrix, 576);
        benchmark::DoNotOptimize(raster.data.data());
    }
}

void NoiseDither(benchmark::State& state) {
    const WorkingBitmap& noise = Noise();
    const auto method = static_cast<DitherMethod>(state.range(0));
    DotMatrix matrix;
    for (auto _ : state) {
        DitherImage(noise, 128, method, matrix);
        benchmark::DoNotOptimize(matrix.dots.data());
    }
}

// The stand-alone libjpeg-turbo decoder as a yardstick, including its process start.
void Djpeg(benchmark::State& state) {
    const char* tool = "/usr/bin/djpeg";
    if (access(tool, X_OK) != 0) {
        state.SkipWithError("djpeg not installed (package libjpeg-turbo-progs)");
        return;
    }
    std::string out = "/dev/null";
    std::string opt = "-outfile";
    for (auto _ : state) {
        char* argv[] = {const_cast<char*>(tool), opt.data(), out.data(), g_path.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, tool, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start djpeg");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("djpeg failed");
            break;
        }
    }
}

}  // namespace

BENCHMARK(DecodeQImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodePictureOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Threshold)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EncodeColumns)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EncodeRasterRows)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PipelineColumns)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PipelineRaster)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LoadBothEncodings)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LoadFittedDithered)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Djpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(NoiseThresholdColumns)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(NoiseThresholdRaster)->Unit(benchmark::kMillisecond)->UseRealTime();
// 1 Floyd-Steinberg, 2 Atkinson, 3 ordered 8x8 (the DitherMethod values).
BENCHMARK(NoiseDither)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (!MakePicture()) {
        std::fprintf(stderr, "cannot write the test picture %s\n", g_path.c_str());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(g_path.c_str());
    return 0;
}
