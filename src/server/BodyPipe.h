#pragma once

// A bounded byte queue from one producer thread to one consumer thread: the bridge between a
// request body that arrives in pushed chunks and an outgoing request that pulls its body. At
// most `capacity` bytes wait in it, so a stream of any length passes through in that memory.
//
// Threads: push(), close() and abort() belong to the producer; pull() and fail() to the
// consumer. The mutex guards every field below it.
//
// Errors: pull() throws std::runtime_error once the producer aborted; push() returns false
// once the consumer failed.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vantel::server {

class BodyPipe {
public:
    explicit BodyPipe(size_t capacity);

    // Blocks while the queue is full. False when the consumer gave up.
    bool push(const char* data, size_t size);
    // The body is complete: pull() returns 0 once the queue is empty.
    void close();
    // The body will not be complete: the consumer's next pull() throws.
    void abort();

    // Blocks until bytes, the end or an abort arrive; returns how many bytes it gave (0: end).
    int64_t pull(char* data, int64_t capacity);
    // The consumer stops reading: waiting and later pushes return false.
    void fail();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<char> m_ring;
    size_t m_head = 0;  // index of the oldest waiting byte
    size_t m_count = 0; // bytes waiting
    bool m_closed = false;
    bool m_aborted = false;
    bool m_failed = false;
};

} // namespace vantel::server
