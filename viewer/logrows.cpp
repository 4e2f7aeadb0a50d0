#include "viewer/logrows.h"

#include <algorithm>
#include <cstring>
#include <limits>

char* LogRows::WritableTail(std::size_t capacity) {
    if (m_capacity - m_size < capacity) {
        // Grow by a quarter at least, so that a file that grows while it is read does not ask
        // for twice its size.
        const std::size_t wanted = std::max(m_size + capacity, m_capacity + m_capacity / 4);
        std::unique_ptr<char[]> larger(new char[wanted]);
        if (m_size > 0) {
            std::memcpy(larger.get(), m_text.get(), m_size);
        }
        m_text = std::move(larger);
        m_capacity = wanted;
    }
    return m_text.get() + m_size;
}

bool LogRows::Commit(std::size_t count) {
    if (m_ended) {
        return false;
    }
    char* fresh = m_text.get() + m_size;
    if (const void* end = std::memchr(fresh, 0x1A, count)) {
        count = static_cast<std::size_t>(static_cast<const char*>(end) - fresh);
        m_ended = true;
    }
    m_size += count;
    const char* text = m_text.get();
    std::size_t at = m_lineStart;
    while (const void* lf = std::memchr(text + at, '\n', m_size - at)) {
        const auto end = static_cast<std::size_t>(static_cast<const char*>(lf) - text);
        TakeLine(at, end);
        at = end + 1;
    }
    m_lineStart = at;
    if (m_ended) {
        Finish();
    }
    return !m_ended;
}

bool LogRows::Append(std::string_view bytes) {
    if (m_ended) {
        return false;
    }
    std::memcpy(WritableTail(bytes.size()), bytes.data(), bytes.size());
    return Commit(bytes.size());
}

void LogRows::Finish() {
    if (m_lineStart < m_size) {
        TakeLine(m_lineStart, m_size);
        m_lineStart = m_size;
    }
}

void LogRows::TakeLine(std::size_t begin, std::size_t end) {
    const char* text = m_text.get();
    if (end > begin && text[end - 1] == '\r') {
        --end;
    }
    if (const void* zero = std::memchr(text + begin, '\0', end - begin)) {
        end = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
    }
    if (end == begin) {
        return;
    }
    const std::size_t length =
        std::min<std::size_t>(end - begin, std::numeric_limits<std::uint32_t>::max());
    m_starts.push_back(begin);
    m_lengths.push_back(static_cast<std::uint32_t>(length));
    m_longest = std::max(m_longest, length);
}
