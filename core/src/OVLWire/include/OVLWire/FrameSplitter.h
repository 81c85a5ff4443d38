// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Incremental splitter of a byte stream into NUL-terminated frames.
//
// Bytes are read straight into the splitter's buffer (prepare/commit) and complete frames are
// handed out as views into that buffer, so a frame is copied once, by the read that receives it.
// Only the unfinished tail moves, when the buffer must make room for a further read. Each byte is
// searched for the terminator once, however many reads a frame is split over.
//
// Not thread-safe: one splitter belongs to one connection. A view from next() stays valid until
// the next call of prepare() or shrink().

#include <cstddef>
#include <memory>
#include <span>

namespace OVL::Wire {

class FrameSplitter {
public:
    enum class Status {
        frame,     // `frame` holds the next complete frame, its terminator excluded
        needMore,  // no complete frame buffered; read more
        tooLarge,  // the next frame is longer than the limit; the stream cannot be resynchronised
    };

    // maxFrameSize: longest accepted frame, terminator excluded. initialCapacity: buffer size
    // allocated by the first prepare() and kept by shrink().
    explicit FrameSplitter(std::size_t maxFrameSize, std::size_t initialCapacity = 4096);
    FrameSplitter(const FrameSplitter&) = delete;
    FrameSplitter& operator=(const FrameSplitter&) = delete;

    // A writable area of at least `minimum` bytes after the buffered data. May move the unfinished
    // tail and invalidates views from next().
    std::span<char> prepare(std::size_t minimum = 1024);
    // Marks `n` bytes of the area from prepare() as received.
    void commit(std::size_t n);

    // Takes the next complete frame. The view is writable so that a parser may work in place.
    Status next(std::span<char>& frame);

    // Bytes received and not yet handed out as frames.
    std::size_t buffered() const { return m_end - m_begin; }
    std::size_t capacity() const { return m_capacity; }
    std::size_t maxFrameSize() const { return m_maxFrameSize; }
    // Frees the buffer when nothing is buffered, or trims it to the initial capacity if a large
    // frame grew it. Call when the connection turns idle.
    void shrink();

private:
    std::size_t m_maxFrameSize;
    std::size_t m_initialCapacity;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;
    std::size_t m_begin = 0;    // first byte not yet handed out
    std::size_t m_scanned = 0;  // bytes before this were searched for the terminator already
    std::size_t m_end = 0;      // end of received bytes
};

}  // namespace OVL::Wire
