#ifndef KALDEN_BENCH_HEAPCOUNTER_HH
#define KALDEN_BENCH_HEAPCOUNTER_HH

namespace KALDEN {
namespace bench {

/**
 * The benchmark executable's global operator new and delete count the heap
 * bytes (as the allocator hands them out) and blocks that stay live while
 * counting is on. Off, they cost one flag test over the plain allocator.
 */
class HeapCounter {
public:
  /// Starts counting from zero.
  static void start();
  /// Stops counting; the figures stay readable.
  static void stop();
  /// Net bytes allocated since start().
  static long long bytes();
  /// Net blocks allocated since start().
  static long long blocks();
};

} // namespace bench
} // namespace KALDEN

#endif
