// Proves a bzip2 stream intact by decompressing its blocks on several threads at once. Only a
// positive answer is final: whatever it cannot prove (a broken block, a marker that was really
// compressed data, bytes after the stream) goes back to the plain one-thread decompression.
#pragma once

#include <istream>

namespace engine {

// Reads `payload` to its end. True when it is exactly one bzip2 stream whose every block
// decompresses with its CRC right and whose stream CRC matches; false when that was not shown.
bool verify_blocks_in_parallel(std::istream& payload, unsigned threads);

}  // namespace engine
