// Process-wide helpers that every layer may call, from any thread.
#pragma once

#include <cstdint>
#include <string>

int MinOf(int a, int b);
void SleepMs(uint32_t milliseconds);
// True on the thread the process started with.
bool InMainThread();
// The system's temporary directory with a trailing "/", read once.
const std::string& TempDirectory();
