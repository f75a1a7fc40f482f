// The FVC2002 set B protocol for matcher tests and benchmarks: templates of the prints of a
// set (made once per process), its 280 genuine and 2,880 impostor pairs, each pair once with
// the lower file name as probe, and the error rates of a list of scores.
#pragma once

#include "tests/support/print_templates.h"

#include <string>
#include <vector>

namespace zftest {

constexpr int FVC_FIRST_FINGER = 101;
constexpr int FVC_FINGERS = 10;
constexpr int FVC_IMPRESSIONS = 8;

// Template of impression 1..8 of finger 101..110 of `set` ("fvc2002_db1_b",
// "fvc2002_db3_b") at finger position 1; empty when the data is absent.
const Template& FvcSetTemplate(const std::string& set, int finger, int impression);

// One comparison of the protocol; index = (finger - 101) x 8 + impression - 1.
struct FvcPair {
    int probe;
    int gallery;
    bool genuine;
};

// Every pair of two different prints once, the lower index (file name) as probe, in
// increasing probe then gallery order: 280 genuine and 2,880 impostor pairs.
std::vector<FvcPair> FvcPairs();

// Error rates in percent, scores compared as "accepted when score >= threshold".
struct ErrorRates {
    double eer;     // equal error rate, as FVC defines it
    double fmr100;  // lowest false non-match rate with a false match rate <= 1 %
    double fmr1000; // the same at <= 0.1 %
    double zeroFmr; // the same with no false match
};
ErrorRates ComputeErrorRates(const std::vector<int>& genuine, const std::vector<int>& impostor);

} // namespace zftest
