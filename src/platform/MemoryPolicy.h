#pragma once
// How the C library's allocator keeps memory the program has freed. By default a block
// of 16 MB freed on a worker thread raises the size below which blocks come from the
// thread's own arena, and every pool thread may get an arena of its own: a web-page test
// that reads a large body on each of many pool threads then leaves that much per arena
// resident long after the test. This fixes the size above which a block is mapped on
// its own (and handed back whole when freed) and bounds the number of arenas.
#include <cstddef>

constexpr std::size_t OwnMappingBytes = 1024 * 1024;
constexpr int MaxAllocatorArenas = 4;

// Early in the process (the monitor's start-up); calling it again does no harm.
// False when the allocator refused a setting. CORVALE_DEFAULT_ALLOCATOR=1 in the
// environment leaves the allocator's defaults (to measure what the limits save).
bool LimitAllocatorRetention();
