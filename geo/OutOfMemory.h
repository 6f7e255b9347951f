// When memory runs out the program ends at once with one line on standard error,
// "<program>: out of memory", and a status of its own, so that a script can tell it from a
// file that could not be written. Nothing is half written: the output files go through
// temporary files, and the one being written is removed first (the cleanup hook below).
#pragma once

constexpr int outOfMemoryStatus = 5;

// Installs the handler that every failed `new`, the nothrow forms included, calls instead
// of throwing; `program` starts the message. Call once at start.
void endProgramWhenOutOfMemory(const char* program);

// Removes what `cleanup` knows of (it must not allocate), says "out of memory" and ends the
// process. For allocations that fail without reaching the handler.
[[noreturn]] void outOfMemory();

// One function, run by outOfMemory before the process ends; null for none.
void setOutOfMemoryCleanup(void (*cleanup)());
