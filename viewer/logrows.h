// The rows of a log file, read the way the viewer shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A log file's rows, in file order. A row is one line without its line end (a CR right before the
// LF goes with it), cut at a zero byte; empty lines give no row. The byte 0x1A ends the text. The
// rows point into the file's bytes, which the rows keep alive, so a file costs little more memory
// than its size: 8 bytes a row.
class LogRows {
public:
    LogRows() = default;
    // The rows of the bytes; keeper holds whatever keeps the bytes alive.
    LogRows(const char* text, std::size_t size, std::shared_ptr<const void> keeper);
    // The rows of a text of their own.
    static LogRows FromText(std::string text);

    // Takes the lines that end within the first `end` bytes of the text; false once the whole
    // text is taken.
    bool ScanTo(std::size_t end);
    // Takes the rest, including a last line without LF.
    void Finish();

    std::size_t Count() const { return m_count; }
    std::string_view Row(std::size_t index) const;
    // The bytes of the text, up to a byte 0x1A.
    std::size_t Size() const;

private:
    static constexpr std::size_t kNoZero = static_cast<std::size_t>(-1);

    void Scan(std::size_t end);
    void TakeLine(std::size_t begin, std::size_t end, std::size_t zero);
    void AddChunk();

    std::shared_ptr<const void> m_keeper;
    const char* m_text = nullptr;
    std::size_t m_fileSize = 0;
    // The 0x1A that ends the text is found by the same pass that finds the lines, so until that
    // pass gets there the text's size is only known if asked for.
    mutable std::size_t m_size = 0;
    mutable bool m_sizeKnown = true;
    // Where the next line begins, and its first zero byte so far (or kNoZero).
    std::size_t m_lineStart = 0;
    std::size_t m_lineZero = kNoZero;
    // How far the text has been searched: a line that crosses the slices is searched on from
    // there, not from its start again, so that a giant line is read once like any other.
    std::size_t m_searched = 0;

    // A row costs 8 bytes: where it begins within its block of 4 GiB of the text, and its length
    // (a longer one is cut, as no row is shown whole at that size). The rows are stored in chunks
    // of a fixed count, so that the index grows without copying itself and never holds more than
    // a chunk it does not use.
    struct Entry {
        std::uint32_t offset;
        std::uint32_t length;
    };
    static constexpr int kChunkBits = 16;
    static constexpr std::size_t kChunkRows = std::size_t{1} << kChunkBits;
    std::vector<std::unique_ptr<Entry[]>> m_chunks;
    std::size_t m_count = 0;
    // For each block of 4 GiB of the text after the first, the index of the first row that
    // begins in it or later.
    std::vector<std::size_t> m_blockStarts;
};
