#include "viewer/logrows.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr int kBlockBits = 32;
constexpr std::size_t kZeroWindow = 256 << 10;

std::size_t Find(const char* text, std::size_t from, std::size_t size, char byte) {
    const void* found = from < size ? std::memchr(text + from, byte, size - from) : nullptr;
    return found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - text)
                            : size;
}

}  // namespace

LogRows::LogRows(const char* text, std::size_t size, std::shared_ptr<const void> keeper)
    : m_keeper(std::move(keeper)), m_text(text) {
    m_size = size > 0 ? Find(text, 0, size, 0x1A) : 0;
}

std::string_view LogRows::Row(std::size_t index) const {
    const Entry& entry = m_chunks[index >> kChunkBits][index & (kChunkRows - 1)];
    const auto block = static_cast<std::size_t>(
        std::upper_bound(m_blockStarts.begin(), m_blockStarts.end(), index) -
        m_blockStarts.begin());
    return {m_text + ((block << kBlockBits) | entry.offset), entry.length};
}

LogRows LogRows::FromText(std::string text) {
    auto owned = std::make_shared<const std::string>(std::move(text));
    return LogRows(owned->data(), owned->size(), owned);
}

bool LogRows::ScanTo(std::size_t end) {
    end = std::min(end, m_size);
    std::size_t at = m_lineStart;
    // A line that crosses the slices is searched on from where the last slice stopped, not from
    // its start again: a giant line is read once, like any other.
    std::size_t from = std::max(at, m_searched);
    for (;;) {
        const std::size_t lf = Find(m_text, from, end, '\n');
        if (lf == end) {
            break;
        }
        TakeLine(at, lf);
        at = lf + 1;
        from = at;
    }
    m_lineStart = at;
    m_searched = std::max(m_searched, end);
    return end < m_size;
}

void LogRows::Finish() {
    ScanTo(m_size);
    if (m_lineStart < m_size) {
        TakeLine(m_lineStart, m_size);
        m_lineStart = m_size;
    }
}

void LogRows::TakeLine(std::size_t begin, std::size_t end) {
    // The zero bytes are searched a window ahead of the lines, not in a pass of their own over
    // the whole text: the line search then finds the window's bytes in the cache.
    if (m_zeroLimit < begin) {
        m_zeroLimit = begin;
        m_nextZero = begin;
    }
    if (m_nextZero < begin) {
        m_nextZero = Find(m_text, begin, m_zeroLimit, '\0');
    }
    if (m_nextZero == m_zeroLimit && m_zeroLimit < end) {
        const std::size_t limit = std::min(m_size, std::max(end, m_zeroLimit + kZeroWindow));
        m_nextZero = Find(m_text, m_zeroLimit, limit, '\0');
        m_zeroLimit = limit;
    }
    if (m_nextZero < end) {
        end = m_nextZero;
    } else if (end > begin && m_text[end - 1] == '\r') {
        --end;
    }
    if (end == begin) {
        return;
    }
    while (m_blockStarts.size() < (begin >> kBlockBits)) {
        m_blockStarts.push_back(m_count);
    }
    if ((m_count & (kChunkRows - 1)) == 0) {
        m_chunks.push_back(std::make_unique_for_overwrite<Entry[]>(kChunkRows));
    }
    m_chunks.back()[m_count & (kChunkRows - 1)] = {
        static_cast<std::uint32_t>(begin & 0xFFFFFFFFu),
        static_cast<std::uint32_t>(
            std::min<std::size_t>(end - begin, std::numeric_limits<std::uint32_t>::max()))};
    ++m_count;
}
