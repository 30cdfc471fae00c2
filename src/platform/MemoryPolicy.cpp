#include "platform/MemoryPolicy.h"

#include <malloc.h>

#include <cstdlib>

bool LimitAllocatorRetention() {
  // For comparison (bench/), the allocator's own defaults stay when asked for.
  const char* keep = std::getenv("CORVALE_DEFAULT_ALLOCATOR");
  if (keep && *keep == '1') return true;
  // A fixed threshold also stops the allocator from moving its trim threshold with it.
  return ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(OwnMappingBytes)) == 1 &&
         ::mallopt(M_ARENA_MAX, MaxAllocatorArenas) == 1;
}
