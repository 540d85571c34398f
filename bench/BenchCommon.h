#pragma once
// Small pieces the in-process benchmarks share: a monotonic clock, percentiles,
// and a window runtime that prints warnings instead of opening a modal box.

#include "panel/WindowRuntime.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

inline long long monoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Nearest-rank percentile (p in 0..100) of unsorted samples.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t rank = std::size_t(std::max(1.0, std::ceil(p / 100.0 * double(v.size()))));
    return v[std::min(rank, v.size()) - 1];
}

inline double mean(const std::vector<double> &v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

// The machine's load average (1, 5, 15 min), to print beside the figures.
inline std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Warnings go to stderr: a modal box would stop the measurement.
inline void printWarnings(RecordingRuntime &runtime)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    runtime.screen = screen ? screen->size() : QSize(1920, 1080);
    runtime.onWarning = [&runtime] { std::fprintf(stderr, "warning box: %s\n", qPrintable(runtime.warnings.last())); };
}

} // namespace bench
