#include "viewer/logrows.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#include <xmmintrin.h>
#define VANTREL_LOGROWS_SSE2 1
#endif

namespace {

constexpr int kBlockBits = 32;
constexpr char kEndOfText = 0x1A;
constexpr std::size_t kPrefetchAhead = 2048;

std::size_t Find(const char* text, std::size_t from, std::size_t size, char byte) {
    const void* found = from < size ? std::memchr(text + from, byte, size - from) : nullptr;
    return found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - text)
                            : size;
}

}  // namespace

LogRows::LogRows(const char* text, std::size_t size, std::shared_ptr<const void> keeper)
    : m_keeper(std::move(keeper)), m_text(text), m_fileSize(size), m_sizeKnown(size == 0) {}

std::size_t LogRows::Size() const {
    if (!m_sizeKnown) {
        // The bytes searched so far hold no 0x1A, or the size would be known.
        m_size = Find(m_text, m_searched, m_fileSize, kEndOfText);
        m_sizeKnown = true;
    }
    return m_size;
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
    end = std::min(end, m_sizeKnown ? m_size : m_fileSize);
    if (m_searched < end) {
        Scan(end);
    }
    if (!m_sizeKnown && (end == m_fileSize || m_text[end] == kEndOfText)) {
        m_size = end;
        m_sizeKnown = true;
    }
    return !m_sizeKnown || end < m_size;
}

void LogRows::Finish() {
    ScanTo(std::numeric_limits<std::size_t>::max());
    if (m_lineStart < m_size) {
        TakeLine(m_lineStart, m_size, m_lineZero);
        m_lineStart = m_size;
        m_lineZero = kNoZero;
    }
}

void LogRows::Scan(std::size_t end) {
    // One pass finds the line ends, the zero bytes and the 0x1A together: reading the text more
    // than once costs more than anything done with what is found.
    const char* const text = m_text;
    std::size_t at = m_searched;
    std::size_t lineStart = m_lineStart;
    std::size_t lineZero = m_lineZero;
    // False at the 0x1A.
    auto take = [&](std::size_t position) {
        const char byte = text[position];
        if (byte == '\n') {
            TakeLine(lineStart, position, lineZero);
            lineStart = position + 1;
            lineZero = kNoZero;
        } else if (byte == '\0') {
            lineZero = std::min(lineZero, position);
        } else {
            return false;
        }
        return true;
    };
    bool ended = false;
#ifdef VANTREL_LOGROWS_SSE2
    // 64 bytes at a time, as one mask of the bytes that matter.
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i eot = _mm_set1_epi8(kEndOfText);
    const __m128i zero = _mm_setzero_si128();
    while (!ended && end - at >= 64) {
        // The processor's own prefetching stops at each page of the mapping; asking ahead keeps
        // the text coming.
        _mm_prefetch(text + at + kPrefetchAhead, _MM_HINT_T0);
        std::uint64_t mask = 0;
        for (int part = 0; part < 4; ++part) {
            const __m128i bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + 16 * part));
            const __m128i found =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, zero)),
                             _mm_cmpeq_epi8(bytes, eot));
            mask |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(found))}
                    << (16 * part);
        }
        while (mask != 0) {
            const std::size_t position = at + static_cast<std::size_t>(std::countr_zero(mask));
            mask &= mask - 1;
            if (!take(position)) {
                at = position;
                ended = true;
                break;
            }
        }
        if (!ended) {
            at += 64;
        }
    }
#endif
    for (; !ended && at < end; ++at) {
        const char byte = text[at];
        if ((byte == '\n' || byte == '\0' || byte == kEndOfText) && !take(at)) {
            ended = true;
            break;
        }
    }
    m_lineStart = lineStart;
    m_lineZero = lineZero;
    if (ended) {
        m_size = at;
        m_sizeKnown = true;
    }
    m_searched = at;
}

void LogRows::TakeLine(std::size_t begin, std::size_t end, std::size_t zero) {
    if (zero < end) {
        end = zero;
    } else if (end > begin && m_text[end - 1] == '\r') {
        --end;
    }
    if (end == begin) {
        return;
    }
    if ((begin >> kBlockBits) > m_blockStarts.size()) [[unlikely]] {
        while (m_blockStarts.size() < (begin >> kBlockBits)) {
            m_blockStarts.push_back(m_count);
        }
    }
    if ((m_count & (kChunkRows - 1)) == 0) [[unlikely]] {
        AddChunk();
    }
    m_chunks.back()[m_count & (kChunkRows - 1)] = {
        static_cast<std::uint32_t>(begin & 0xFFFFFFFFu),
        static_cast<std::uint32_t>(
            std::min<std::size_t>(end - begin, std::numeric_limits<std::uint32_t>::max()))};
    ++m_count;
}

void LogRows::AddChunk() {
    m_chunks.push_back(std::make_unique_for_overwrite<Entry[]>(kChunkRows));
}
