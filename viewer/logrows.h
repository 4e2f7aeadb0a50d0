// The rows of a log file, read the way the viewer shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// A log file's text and its rows, in file order. A row is one line without its line end (a CR
// right before the LF goes with it), cut at a zero byte; empty lines give no row. The byte 0x1A
// ends the text. The rows point into one buffer that holds the text as read, so a file costs
// little more memory than its size.
class LogRows {
public:
    LogRows() = default;
    LogRows(LogRows&&) noexcept = default;
    LogRows& operator=(LogRows&&) noexcept = default;

    // Room for at least the given number of bytes to be read next; the reader fills it and then
    // calls Commit with the count it read.
    char* WritableTail(std::size_t capacity);
    // Takes the bytes written at the tail; false once the text has ended at a byte 0x1A, after
    // which nothing more is taken.
    bool Commit(std::size_t count);
    // Takes a copy of the bytes, as read from the file.
    bool Append(std::string_view bytes);
    // The file has ended: a last line without LF becomes a row too.
    void Finish();

    // The room left for reading before the buffer has to grow.
    std::size_t Spare() const { return m_capacity - m_size; }

    std::size_t Count() const { return m_starts.size(); }
    std::string_view Row(std::size_t index) const {
        return {m_text.get() + m_starts[index], m_lengths[index]};
    }
    // The length of the longest row in bytes.
    std::size_t LongestLength() const { return m_longest; }

private:
    void TakeLine(std::size_t begin, std::size_t end);

    std::unique_ptr<char[]> m_text;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    // Where the line that has not met its LF yet begins.
    std::size_t m_lineStart = 0;
    bool m_ended = false;
    std::vector<std::uint64_t> m_starts;
    std::vector<std::uint32_t> m_lengths;
    std::size_t m_longest = 0;
};
