#include "BodyPipe.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vantel::server {

BodyPipe::BodyPipe(size_t capacity)
    : m_ring(std::max<size_t>(capacity, 1)) {}

bool BodyPipe::push(const char* data, size_t size) {
    std::unique_lock lock(m_mutex);
    while (size > 0) {
        m_changed.wait(lock, [&] { return m_failed || m_count < m_ring.size(); });
        if (m_failed)
            return false;
        const size_t tail = (m_head + m_count) % m_ring.size();
        const size_t room = std::min(m_ring.size() - m_count, m_ring.size() - tail);
        const size_t step = std::min(room, size);
        std::memcpy(m_ring.data() + tail, data, step);
        m_count += step;
        data += step;
        size -= step;
        m_changed.notify_all();
    }
    return true;
}

void BodyPipe::close() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

void BodyPipe::abort() {
    std::lock_guard lock(m_mutex);
    m_aborted = true;
    m_changed.notify_all();
}

int64_t BodyPipe::pull(char* data, int64_t capacity) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_aborted || m_closed || m_count > 0; });
    if (m_aborted)
        throw std::runtime_error("The upload stopped before its end.");
    const size_t step = std::min({m_count, m_ring.size() - m_head, size_t(capacity)});
    std::memcpy(data, m_ring.data() + m_head, step);
    m_head = (m_head + step) % m_ring.size();
    m_count -= step;
    m_changed.notify_all();
    return int64_t(step);
}

void BodyPipe::fail() {
    std::lock_guard lock(m_mutex);
    m_failed = true;
    m_changed.notify_all();
}

} // namespace vantel::server
