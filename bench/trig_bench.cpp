// Speed of portableSin and portableCos on the balls' path arguments (one call
// per iteration), and of the wide path alone, which the quick path hands the
// few arguments it cannot round (about one call in 2,500).
#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

#include "geometry/trig.h"
#include "geometry/trig_detail.h"

namespace vornisk {
namespace {

// n/d for the balls' divisors over frames from 3,000 on: the show's own mix of
// reduced arguments and quadrants.
std::vector<double> ballArguments() {
  const int divisors[] = {11, 17, 18, 22, 23, 26, 27, 31, 32, 33, 36, 37,
                          38, 41, 42, 43, 46, 47, 48, 51, 53, 56, 57, 58};
  std::vector<double> arguments;
  for (int n = 3000; arguments.size() < 4096; ++n)
    for (const int d : divisors)
      arguments.push_back(n / static_cast<double>(d));
  arguments.resize(4096);
  return arguments;
}

template <double (*Wave)(double)>
void BM_Trig(benchmark::State& state) {
  const std::vector<double> arguments = ballArguments();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Wave(arguments[i]));
    i = (i + 1) % arguments.size();
  }
}
BENCHMARK(BM_Trig<portableSin>)->Name("BM_PortableSin");
BENCHMARK(BM_Trig<portableCos>)->Name("BM_PortableCos");

void BM_TrigWidePath(benchmark::State& state) {
  const std::vector<double> arguments = ballArguments();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(trig::twiceRoundedWidely(arguments[i], trig::Wave::Sine));
    i = (i + 1) % arguments.size();
  }
}
BENCHMARK(BM_TrigWidePath);

}  // namespace
}  // namespace vornisk
