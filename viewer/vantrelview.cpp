#include "viewer/vantrelview.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace {

// The text a row shows. A row never holds a zero byte when it is read, so one met later means
// that the file shrank under the mapping and its lost part reads as zeros: the row shows empty.
QString ShownText(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

QString CLogModel::ShownRow(std::string_view bytes) {
    // A giant line would take the text layout seconds to measure and paint, or more memory than
    // it can handle: the row shows its beginning and says that it goes on.
    if (bytes.size() <= kMaxShownBytes) {
        return ShownText(bytes);
    }
    std::size_t cut = kMaxShownBytes;
    // A character of several bytes is not split: the cut goes back to where it begins.
    for (int back = 0;
         back < 3 && cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80; ++back) {
        --cut;
    }
    const std::string_view shown = bytes.substr(0, cut);
    if (shown.find('\0') != std::string_view::npos) {
        return ShownText(shown);
    }
    return ShownText(shown) + QChar(0x2026);
}

namespace {}  // namespace

int CLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.Count());
}

int CLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QString CLogModel::RowText(int row) const {
    return ShownRow(m_rows.Row(m_rows.Count() - 1 - static_cast<std::size_t>(row)));
}

QVariant CLogModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.column() != 0) {
        return {};
    }
    return RowText(index.row());
}

QVariant CLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == 0) {
        if (role == Qt::DisplayRole) {
            return QStringLiteral("Syslog Messages");
        }
        if (role == Qt::TextAlignmentRole) {
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    return {};
}

void CLogModel::SetRows(LogRows rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

CVantrelView::CVantrelView(QWidget* parent) : QTableView(parent) {
    setModel(&m_model);
    // Rows of one height let the list scroll through millions of them.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionsClickable(false);
    setSortingEnabled(false);
    setWordWrap(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void CVantrelView::OnInitialUpdate() {
    if (!m_columnReady) {
        m_columnReady = true;
        m_spanning = true;
        SpanColumn();
    }
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
}

void CVantrelView::ShowRows(LogRows rows) {
    m_model.SetRows(std::move(rows));
    m_spanning = false;
    FitColumn();
}

void CVantrelView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    if (m_spanning) {
        SpanColumn();
    }
}

void CVantrelView::SpanColumn() {
    horizontalHeader()->resizeSection(0, std::max(0, viewport()->width() - 1));
}

void CVantrelView::FitColumn() {
    const LogRows& rows = m_model.Rows();
    // Measuring every row of a large file would take longer than reading it. Log text is of one
    // kind throughout, so the widest rows are among the longest in bytes: those are measured.
    constexpr std::size_t kMeasured = 512;
    using Candidate = std::pair<std::size_t, std::size_t>;  // length, index
    std::vector<Candidate> longest;
    longest.reserve(kMeasured + 1);
    for (std::size_t i = 0; i < rows.Count(); ++i) {
        const std::size_t length = rows.Row(i).size();
        if (longest.size() == kMeasured && length <= longest.front().first) {
            continue;
        }
        longest.emplace_back(length, i);
        std::push_heap(longest.begin(), longest.end(), std::greater<>());
        if (longest.size() > kMeasured) {
            std::pop_heap(longest.begin(), longest.end(), std::greater<>());
            longest.pop_back();
        }
    }
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const Candidate& candidate : longest) {
        widest = std::max(
            widest, metrics.horizontalAdvance(CLogModel::ShownRow(rows.Row(candidate.second))));
    }
    const int margin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    // The column is never narrower than its heading, so that an empty or narrow file leaves the
    // heading whole.
    // A section wider than the header allows would be refused and keep its old width.
    const int width = std::max(widest + margin + 1, horizontalHeader()->sectionSizeHint(0));
    horizontalHeader()->resizeSection(0, std::min(width, horizontalHeader()->maximumSectionSize()));
}
