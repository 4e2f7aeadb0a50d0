#include "viewer/vantrelview.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>

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

int CLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(std::min(m_rows.Count(), m_rowCap));
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

CVantrelView::CVantrelView(QWidget* parent) : QAbstractItemView(parent) {
    m_header = new QHeaderView(Qt::Horizontal, this);
    m_header->setModel(&m_model);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setStretchLastSection(false);
    m_header->setSectionsClickable(false);
    m_header->setHighlightSections(false);
    setModel(&m_model);
    m_rowHeight = fontMetrics().height() + 4;
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(m_header, &QHeaderView::geometriesChanged, this, &CVantrelView::updateGeometries);
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
    updateGeometries();
    viewport()->update();
}

int CVantrelView::columnWidth(int column) const {
    return m_header->sectionSize(column);
}

void CVantrelView::setShowGrid(bool show) {
    if (m_showGrid != show) {
        m_showGrid = show;
        viewport()->update();
    }
}

int CVantrelView::VisibleRows() const {
    return std::max(1, (viewport()->height() + m_rowHeight - 1) / m_rowHeight);
}

int CVantrelView::TopRow() const {
    return verticalScrollBar()->value();
}

QRect CVantrelView::RowRect(int row) const {
    const qint64 top = static_cast<qint64>(row - TopRow()) * m_rowHeight;
    const auto clipped = static_cast<int>(std::clamp<qint64>(top, INT_MIN / 2, INT_MAX / 2));
    return {-horizontalOffset(), clipped, columnWidth(0), m_rowHeight};
}

QRect CVantrelView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != &m_model) {
        return {};
    }
    return RowRect(index.row());
}

void CVantrelView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid()) {
        return;
    }
    const int row = index.row();
    // Rows that fit whole: the one in part at the bottom does not count as shown.
    const int whole = std::max(1, viewport()->height() / m_rowHeight);
    int top = TopRow();
    switch (hint) {
        case PositionAtTop:
            top = row;
            break;
        case PositionAtBottom:
            top = row - whole + 1;
            break;
        case PositionAtCenter:
            top = row - whole / 2;
            break;
        case EnsureVisible:
            if (row < top) {
                top = row;
            } else if (row >= top + whole) {
                top = row - whole + 1;
            }
            break;
    }
    verticalScrollBar()->setValue(top);
    const QRect rect = RowRect(row);
    if (rect.left() < 0 || rect.right() >= viewport()->width()) {
        horizontalScrollBar()->setValue(horizontalOffset() + std::min(rect.left(), 0));
    }
}

QModelIndex CVantrelView::indexAt(const QPoint& point) const {
    const int x = point.x() + horizontalOffset();
    if (point.y() < 0 || x < 0 || x >= columnWidth(0)) {
        return {};
    }
    const qint64 row = static_cast<qint64>(TopRow()) + point.y() / m_rowHeight;
    if (row >= m_model.rowCount()) {
        return {};
    }
    return m_model.index(static_cast<int>(row), 0);
}

QModelIndex CVantrelView::moveCursor(CursorAction action, Qt::KeyboardModifiers /*modifiers*/) {
    const int rows = m_model.rowCount();
    if (rows == 0) {
        return {};
    }
    const QModelIndex current = currentIndex();
    const int row = current.isValid() ? current.row() : 0;
    const int page = std::max(1, viewport()->height() / m_rowHeight);
    qint64 next = row;
    switch (action) {
        case MoveUp:
        case MovePrevious:
            next = row - 1;
            break;
        case MoveDown:
        case MoveNext:
            next = current.isValid() ? row + 1 : 0;
            break;
        case MovePageUp:
            next = static_cast<qint64>(row) - page;
            break;
        case MovePageDown:
            next = static_cast<qint64>(row) + page;
            break;
        case MoveHome:
            next = 0;
            break;
        case MoveEnd:
            next = rows - 1;
            break;
        case MoveLeft:
        case MoveRight:
            horizontalScrollBar()->triggerAction(action == MoveLeft
                                                     ? QAbstractSlider::SliderSingleStepSub
                                                     : QAbstractSlider::SliderSingleStepAdd);
            return current;
    }
    return m_model.index(static_cast<int>(std::clamp<qint64>(next, 0, rows - 1)), 0);
}

int CVantrelView::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int CVantrelView::verticalOffset() const {
    // In pixels, as the base class wants it for the dragged selection; beyond what an int holds
    // the offset stops growing.
    return static_cast<int>(
        std::min<qint64>(static_cast<qint64>(TopRow()) * m_rowHeight, INT_MAX / 2));
}

bool CVantrelView::isIndexHidden(const QModelIndex& /*index*/) const {
    return false;
}

void CVantrelView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) {
    const int rows = m_model.rowCount();
    if (rows == 0 || selectionModel() == nullptr) {
        return;
    }
    const QRect area = rect.normalized();
    auto rowAt = [this, rows](int y) {
        const qint64 row = static_cast<qint64>(TopRow()) + (y >= 0 ? y / m_rowHeight : -1);
        return static_cast<int>(std::clamp<qint64>(row, 0, rows - 1));
    };
    selectionModel()->select(
        QItemSelection(m_model.index(rowAt(area.top()), 0), m_model.index(rowAt(area.bottom()), 0)),
        flags);
}

QRegion CVantrelView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int first = TopRow();
    const int last = first + VisibleRows();
    for (const QItemSelectionRange& range : selection) {
        const int top = std::max(range.top(), first);
        const int bottom = std::min(range.bottom(), last);
        if (top <= bottom) {
            region += RowRect(top).united(RowRect(bottom));
        }
    }
    return region;
}

void CVantrelView::updateGeometries() {
    const int headerHeight = m_header->isHidden() ? 0 : m_header->sizeHint().height();
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = viewport()->geometry();
    m_header->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);

    const int whole = std::max(1, viewport()->height() / m_rowHeight);
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(whole);
    verticalScrollBar()->setRange(0, std::max(0, m_model.rowCount() - whole));
    horizontalScrollBar()->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, std::max(0, columnWidth(0) - viewport()->width()));
    m_header->setOffset(horizontalOffset());
    QAbstractItemView::updateGeometries();
}

void CVantrelView::scrollContentsBy(int dx, int /*dy*/) {
    if (dx != 0) {
        m_header->setOffset(horizontalOffset());
    }
    viewport()->update();
}

void CVantrelView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const int rows = m_model.rowCount();
    const QRect area = event->rect();
    const int top = TopRow();
    const int first = top + std::max(0, area.top()) / m_rowHeight;
    const int last = static_cast<int>(std::min<qint64>(
        rows - 1, static_cast<qint64>(top) + std::max(0, area.bottom()) / m_rowHeight));
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const bool active = isActiveWindow();
    const QModelIndex current = currentIndex();
    const int gridSize = m_showGrid ? 1 : 0;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = m_model.index(row, 0);
        option.rect = RowRect(row).adjusted(0, 0, -gridSize, -gridSize);
        option.state = QStyle::State_Enabled;
        if (active) {
            option.state |= QStyle::State_Active;
        }
        if (selectionModel() != nullptr && selectionModel()->isSelected(index)) {
            option.state |= QStyle::State_Selected;
        }
        if (index == current && hasFocus()) {
            option.state |= QStyle::State_HasFocus;
        }
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
    if (m_showGrid && rows > 0) {
        const auto gridColor =
            static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this));
        painter.setPen(QColor::fromRgba(gridColor));
        const int right = columnWidth(0) - horizontalOffset() - 1;
        const int bottom = RowRect(last).bottom();
        for (int row = first; row <= last; ++row) {
            const int y = RowRect(row).bottom();
            painter.drawLine(-horizontalOffset(), y, right, y);
        }
        painter.drawLine(right, RowRect(first).top(), right, bottom);
    }
}

void CVantrelView::resizeEvent(QResizeEvent* event) {
    QAbstractItemView::resizeEvent(event);
    updateGeometries();
    if (m_spanning) {
        SpanColumn();
    }
}

void CVantrelView::SpanColumn() {
    m_header->resizeSection(0, std::max(0, viewport()->width() - 1));
}

void CVantrelView::FitColumn() {
    const LogRows& rows = m_model.Rows();
    // Measuring every row of a large file would take longer than reading it. Log text is of one
    // kind throughout, so the widest rows are among the longest in bytes: those are measured.
    constexpr std::size_t kMeasured = 512;
    using Candidate = std::pair<std::size_t, std::size_t>;  // length, index
    std::vector<Candidate> longest;
    longest.reserve(kMeasured + 1);
    // Only the rows shown count: the newest, when the file has more than the list addresses.
    const std::size_t shown = static_cast<std::size_t>(m_model.rowCount());
    for (std::size_t i = rows.Count() - shown; i < rows.Count(); ++i) {
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
