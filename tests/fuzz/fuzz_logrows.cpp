// Any bytes as a log file, split into the viewer's rows in slices, the way the viewer takes a file
// while it loads. Whatever the file holds and however the loading is sliced, the rows must be the
// file's lines: each within the text, in order, without line ends, zero bytes or empty rows.
//
// The first byte of the input picks the slices; the rest is the file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "viewer/logrows.h"

namespace {

struct ExpectedRow {
    std::size_t start;
    std::size_t length;
    // Where the line's LF is; the end of the text for a last line without one.
    std::size_t lineEnd;
};

// The rows as the viewer documents them, found byte by byte: the text ends at the first 0x1A; a
// line ends at its LF; it is cut at its first zero byte, and without one a CR that ends it goes
// with the line end; what is left empty gives no row.
std::vector<ExpectedRow> ExpectedRows(std::string_view text) {
    std::vector<ExpectedRow> rows;
    auto take = [&](std::size_t begin, std::size_t end) {
        std::size_t cut = end;
        for (std::size_t i = begin; i < end; ++i) {
            if (text[i] == '\0') {
                cut = i;
                break;
            }
        }
        if (cut == end && end > begin && text[end - 1] == '\r') {
            cut = end - 1;
        }
        if (cut > begin) {
            rows.push_back({begin, cut - begin, end});
        }
    };
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            take(begin, i);
            begin = i + 1;
        }
    }
    if (begin < text.size()) {
        take(begin, text.size());
    }
    return rows;
}

// The rows taken so far are the first of the expected ones: the same bytes at the same places.
void CheckRows(const LogRows& rows, const char* text, const std::vector<ExpectedRow>& expected,
               std::size_t count) {
    FUZZ_CHECK(rows.Count() == count);
    const char* previousEnd = text;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view row = rows.Row(i);
        FUZZ_CHECK(!row.empty());
        FUZZ_CHECK(row.find('\n') == std::string_view::npos);
        FUZZ_CHECK(row.find('\0') == std::string_view::npos);
        FUZZ_CHECK(row.data() >= previousEnd);
        FUZZ_CHECK(row.data() + row.size() <= text + rows.Size());
        // A row that ends with CR had its CR elsewhere than before the LF.
        if (row.back() == '\r') {
            FUZZ_CHECK(row.data() + row.size() < text + rows.Size());
            FUZZ_CHECK(row.data()[row.size()] != '\n');
        }
        FUZZ_CHECK(row.data() == text + expected[i].start);
        FUZZ_CHECK(row.size() == expected[i].length);
        // Rows are separated by at least the LF that ends the earlier one.
        previousEnd = row.data() + row.size() + 1;
    }
}

// A small generator for the slice ends, seeded by the input.
class Slices {
public:
    explicit Slices(std::uint32_t seed) : m_state(seed * 2654435761u + 1u) {}

    std::uint32_t Next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }

private:
    std::uint32_t m_state;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Slices slices(data[0]);
    // The file's bytes stay libFuzzer's copy, which ends where the input ends, so that a read
    // past the end is caught.
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;

    const std::string_view whole(text, length);
    const std::size_t textSize = std::min(whole.find('\x1A'), length);
    const std::vector<ExpectedRow> expected = ExpectedRows(whole.substr(0, textSize));

    LogRows rows(text, length, nullptr);
    FUZZ_CHECK(rows.Size() == textSize);

    // Slices of all sizes, now and then one that ends where the last one did, one that ends
    // before it, or one far past the end of the text.
    std::size_t end = 0;
    std::size_t taken = 0;
    for (int step = 0; step < 64 && end <= textSize; ++step) {
        const std::uint32_t pick = slices.Next();
        std::size_t to;
        switch (pick % 8) {
            case 0:
                to = end;
                break;
            case 1:
                to = end - std::min<std::size_t>(end, (pick >> 8) & 15u);
                break;
            case 2:
                to = std::numeric_limits<std::size_t>::max();
                break;
            case 3:
                to = end + 1 + (pick >> 8) % (textSize + 1);
                break;
            default:
                to = end + 1 + (pick >> 8) % 32;
                break;
        }
        const bool more = rows.ScanTo(to);
        // True while part of the text is left, and false once it is taken whole.
        FUZZ_CHECK(more == (to < textSize));
        taken = std::max(taken, std::min(to, textSize));
        end = std::max(end, to == std::numeric_limits<std::size_t>::max() ? textSize + 1 : to);
        // The lines taken are those whose LF lies within the bytes scanned so far.
        std::size_t count = 0;
        while (count < expected.size() && expected[count].lineEnd < taken &&
               text[expected[count].lineEnd] == '\n') {
            ++count;
        }
        CheckRows(rows, text, expected, count);
    }
    rows.Finish();
    CheckRows(rows, text, expected, expected.size());
    rows.Finish();
    CheckRows(rows, text, expected, expected.size());

    // A text of its own gives the same rows.
    LogRows own = LogRows::FromText(std::string(text, length));
    own.Finish();
    FUZZ_CHECK(own.Count() == expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        FUZZ_CHECK(own.Row(i) == rows.Row(i));
    }
    return 0;
}
