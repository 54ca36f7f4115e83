// Reading a whole file from outside the program with a bound.
#pragma once

#include <cstddef>
#include <string>

// Reads the whole of a regular file into contents. The open never blocks (a
// FIFO without a writer cannot stall the caller); anything that is not a
// regular file once opened (FIFO, device, directory) is refused. Reads to the
// end rather than trusting the size the system reports, since /proc files
// report 0. Returns false, leaving contents untouched, when the file cannot
// be opened or read, is not regular, or holds more than maxBytes bytes; errno
// then holds the system's reason, or 0 for a file refused here.
// Example: ReadRegularFile("/proc/self/status", text, 1 << 20) reads the
// status text; ReadRegularFile("/dev/zero", text, 1 << 20) is false.
bool ReadRegularFile(const std::string& path, std::string& contents, std::size_t maxBytes);
