// Folivo — multi-page TIFF editor.
// Splitting independent rows of a pass over a few threads, deterministically.
#pragma once

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace folivo {

// Threads worth using for a pass over the given number of pixels: 1 for
// small work, otherwise the hardware's count, at most 4.
inline int PassThreads(long long pixels) {
  if (pixels < (1 << 18)) return 1;
  const unsigned n = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(n, 1u, 4u));
}

// Runs body(first, last) over consecutive bands of 0..count-1 on up to
// threads threads; the calling thread takes part and alone calls
// report(done) after each of its bands, done counting every finished item.
// Every item is computed by exactly one call, so the result does not depend
// on the split.
template <typename Body, typename Report>
void ParallelBands(int count, int threads, Body body, Report report) {
  constexpr int kBand = 1;  // a row is far more work than the counter
  std::atomic<int> next{0};
  std::atomic<int> done{0};
  auto work = [&](bool reporting) {
    for (;;) {
      const int first = next.fetch_add(kBand);
      if (first >= count) return;
      const int last = std::min(count, first + kBand);
      body(first, last);
      const int finished = done.fetch_add(last - first) + (last - first);
      if (reporting) report(finished);
    }
  };
  std::vector<std::thread> pool;
  for (int i = 1; i < threads && i * kBand < count; ++i) pool.emplace_back(work, false);
  work(true);
  for (std::thread& t : pool) t.join();
  report(count);
}

template <typename Body>
void ParallelBands(int count, int threads, Body body) {
  ParallelBands(count, threads, body, [](int) {});
}

}  // namespace folivo
