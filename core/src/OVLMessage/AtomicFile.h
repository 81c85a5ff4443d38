#pragma once
// Atomic replacement of a file: write a temporary file beside it, flush it to disk, rename it
// over the target, flush the directory.

#include <cstddef>
#include <functional>
#include <string>

namespace OVL::detail {

// Receives chunks of the new content; returns false once a write has failed.
class ChunkSink {
public:
    virtual ~ChunkSink() = default;
    virtual bool put(const void* data, std::size_t size) = 0;
};

// Calls produce(sink) to generate the content and stores it atomically at `path`. 0 on success;
// -1 with `error` set otherwise, in which case `path` is untouched and no temporary file stays.
int replaceFileAtomically(const std::string& path, const std::function<void(ChunkSink&)>& produce,
                          std::string& error);

}  // namespace OVL::detail
