// How long one number reading takes after the capture command has written its
// frame: the frame decoded from ./img/input.jpg, binarized, labelled, every
// candidate cropped through its file and classified, the digits stored. The
// pauses between candidates are left out (they are fixed sleeps, not work).
// The frame is the simulator camera's view of a "37" board square on at 50 cm,
// written the way the simulated capture writes it. Timed on the wall clock:
// OpenCV spreads some filters over its worker threads, which the calling
// thread's CPU time would leave out.
#include <benchmark/benchmark.h>
#include <ext/stdio_filebuf.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "benchmarks/vision/bench_quiet.h"
#include "sim/camera/camera.h"
#include "vision/number_detect.h"

namespace {

constexpr int kDistance = 50;
const char* const kFramePath = "./img/input.jpg";

// Set when any reading did not give 3 and 7: the figure would then time the
// wrong path, so the run fails.
std::atomic<bool> misread{false};

cv::Mat board_frame() {
    const camera_board board{
        static_cast<double>(kDistance), 0.0, 180.0, 30.0, kCameraBoardHeight, "37"};
    const camera_options clean{0.0, 0.0, 0.0, 1};
    return camera_render({board}, 0.0, 0.0, 0.0, 320, 240, clean);
}

bool read_three_seven(const cv::Mat& frame) {
    number_reading reading{};
    if (number_detect_frame(frame, kDistance, 0, &reading) != 0 || reading.read != 2) {
        return false;
    }
    int digits[2] = {-1, -1};
    number_get(digits);
    return digits[0] == 3 && digits[1] == 7;
}

void check(benchmark::State& state, bool ok) {
    if (!ok) {
        misread.store(true);
        state.SkipWithError("the frame did not read as 3 and 7");
    }
}

// Decoding the captured file and everything after it.
void BM_ReadingFromCapturedFrame(benchmark::State& state) {
    bool ok = true;
    for (auto _ : state) {
        const cv::Mat frame = cv::imread(kFramePath, cv::IMREAD_ANYCOLOR);
        ok = read_three_seven(frame) && ok;
    }
    check(state, ok);
}
BENCHMARK(BM_ReadingFromCapturedFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same without the decoding: the frame already in memory.
void BM_ReadingOfDecodedFrame(benchmark::State& state) {
    const cv::Mat frame = cv::imread(kFramePath, cv::IMREAD_ANYCOLOR);
    bool ok = true;
    for (auto _ : state) {
        ok = read_three_seven(frame) && ok;
    }
    check(state, ok);
}
BENCHMARK(BM_ReadingOfDecodedFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }

    // The reading works in ./img/; give it a private one.
    const std::string work = bench_enter_workdir("tavi_reading_bench");
    if (work.empty()) {
        return 1;
    }
    if (!cv::imwrite(kFramePath, board_frame())) {
        std::fprintf(stderr, "cannot write %s\n", kFramePath);
        return 1;
    }
    number_set_nums(2);

    // The reading's console lines go nowhere; the figures still reach the
    // original standard output through a stream of their own.
    const int report_fd = bench_quiet_stdout();
    if (report_fd < 0) {
        return 1;
    }
    __gnu_cxx::stdio_filebuf<char> report(report_fd, std::ios::out);
    std::streambuf* const previous = std::cout.rdbuf(&report);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::cout.flush();
    std::cout.rdbuf(previous);
    std::filesystem::remove_all(work);
    if (misread.load()) {
        std::fprintf(stderr, "a reading did not give 3 and 7\n");
        return 1;
    }
    return 0;
}
