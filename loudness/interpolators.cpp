#include "loudness/interpolators.hpp"

#include <cmath>
#include <numbers>

namespace tarvelle {

namespace {

constexpr double pi = std::numbers::pi;

// The design and its evaluation order are the ones the widely used meters
// share, so that the peaks agree with theirs to the last bit.
PolyphaseFilter hannSinc(int factor)
{
    constexpr int taps = 49;
    constexpr double nearZero = 0.000001;
    PolyphaseFilter filter;
    filter.phases.resize(static_cast<std::size_t>(factor));
    for (int tap = 0; tap < taps; ++tap) {
        const double offset = static_cast<double>(tap) - static_cast<double>(taps - 1) / 2.0;
        double coefficient = 1.0;
        if (std::fabs(offset) > nearZero) {
            coefficient = std::sin(offset * pi / factor) / (offset * pi / factor);
        }
        coefficient *= 0.5 * (1 - std::cos(2 * pi * tap / (taps - 1)));
        if (std::fabs(coefficient) > nearZero) {
            filter.phases[static_cast<std::size_t>(tap % factor)].push_back({tap / factor, coefficient});
        }
    }
    return filter;
}

double besselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; term > 1e-17 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

} // namespace

std::optional<PolyphaseFilter> truePeakFilter(std::int32_t sampleRate)
{
    if (sampleRate < 96000) {
        return hannSinc(4);
    }
    if (sampleRate < 192000) {
        return hannSinc(2);
    }
    return std::nullopt;
}

PolyphaseFilter reconstructionFilter()
{
    constexpr int factor = 16;
    constexpr int half = 24; // input frames each side of the output
    constexpr double beta = 9.0;
    PolyphaseFilter filter;
    filter.gridStep = 8;
    filter.outputDelay = half;
    for (int phase = 0; phase < factor; ++phase) {
        auto& taps = filter.phases.emplace_back();
        for (int delay = 0; delay < 2 * half; ++delay) {
            // The output lies half frames back, phase sixteenths after.
            const double t = static_cast<double>(delay - half) + static_cast<double>(phase) / factor;
            const double u = t / half;
            if (std::fabs(u) >= 1.0) {
                continue;
            }
            const double sinc = t == 0.0 ? 1.0 : std::sin(pi * t) / (pi * t);
            const double window = besselI0(beta * std::sqrt(1.0 - u * u)) / besselI0(beta);
            // The zeros of the sinc, a rounding away from 0, are left out.
            if (std::fabs(sinc) > 1e-12) {
                taps.push_back({delay, sinc * window});
            }
        }
    }
    return filter;
}

} // namespace tarvelle
