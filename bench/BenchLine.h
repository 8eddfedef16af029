// bench/BenchLine.h: the one line every benchmark prints per case, so `make bench` reads alike
// from end to end:
//
//   case ours peer unit speed
//
// "ours" and "peer" are the two measures in "unit" (ms for times, MB/s or ops/s for rates), and
// "speed" is how many times faster ours is than the peer: 1.00 is parity, higher is better,
// whichever way the unit runs. A time is turned round (peer / ours), a rate is not (ours / peer).
#pragma once

#include <cstdio>
#include <string>

namespace bench {

// Which way the unit runs: a time (less is faster) or a rate (more is faster).
enum class Measure { Time, Rate };

inline void PrintCase(const std::string& name, double ours, double peer, const char* unit, Measure measure) {
    const double speed = measure == Measure::Time ? peer / ours : ours / peer;
    std::printf("%s %.1f %.1f %s %.2f\n", name.c_str(), ours, peer, unit, speed);
    std::fflush(stdout);
}

// Milliseconds, ours against the peer's.
inline void PrintTimes(const std::string& name, double oursMs, double peerMs) {
    PrintCase(name, oursMs, peerMs, "ms", Measure::Time);
}

// A rate in unit ("MB/s", "ops/s"), ours against the peer's.
inline void PrintRates(const std::string& name, double ours, double peer, const char* unit) {
    PrintCase(name, ours, peer, unit, Measure::Rate);
}

}  // namespace bench
