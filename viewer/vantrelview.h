// The list of the shown log file: one column, the last line of the file at the top.
#pragma once

#include <QAbstractItemView>
#include <QAbstractTableModel>

#include <climits>
#include <cstddef>
#include <string_view>

#include "viewer/logrows.h"

class QHeaderView;

// The rows of the list, over the rows of the file in reverse order: row 0 is the file's last row.
// A file with more rows than the list can address shows the newest of them.
class CLogModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Replaces all rows at once.
    void SetRows(LogRows rows);
    const LogRows& Rows() const { return m_rows; }
    QString RowText(int row) const;
    // The text shown for a row of the file: at most kMaxShownBytes of it, ending in "…" when
    // cut, and without what follows a zero byte.
    static QString ShownRow(std::string_view bytes);

    // The most rows shown; the list addresses its rows with an int.
    std::size_t RowCap() const { return m_rowCap; }
    void SetRowCap(std::size_t cap) { m_rowCap = cap; }

    static constexpr std::size_t kMaxShownBytes = 64 << 10;
    static constexpr std::size_t kMaxRows = INT_MAX;

private:
    LogRows m_rows;
    std::size_t m_rowCap = kMaxRows;
};

// The list in report view. All rows have one height, and the list keeps nothing of its own per
// row: it scrolls by rows and paints only those in sight, so that a file of a hundred million
// lines costs it no more than one of ten.
class CVantrelView : public QAbstractItemView {
    Q_OBJECT

public:
    explicit CVantrelView(QWidget* parent = nullptr);

    // Sets the list up when the view gets its document, and again after every open of a
    // document; the column is created once.
    void OnInitialUpdate();
    // Replaces the rows and fits the column to the widest of them.
    void ShowRows(LogRows rows);

    CLogModel& Model() { return m_model; }
    QHeaderView* horizontalHeader() const { return m_header; }
    int columnWidth(int column) const;
    bool showGrid() const { return m_showGrid; }
    void setShowGrid(bool show);
    // Rows stay in file order: the list never sorts.
    bool isSortingEnabled() const { return false; }
    int RowHeight() const { return m_rowHeight; }

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Makes column 0 as wide as its widest row needs.
    void FitColumn();
    // Makes column 0 as wide as the list, less one pixel.
    void SpanColumn();
    // The rows that fit in the viewport, a last one in part counted.
    int VisibleRows() const;
    int TopRow() const;
    // The rectangle of the row in the viewport, in pixels, clipped to what an int can hold.
    QRect RowRect(int row) const;

    CLogModel m_model;
    QHeaderView* m_header = nullptr;
    int m_rowHeight = 0;
    bool m_showGrid = true;
    bool m_columnReady = false;
    // Until the first load the column spans the list; windowing systems that size the window
    // after it is shown report the list's final width only then.
    bool m_spanning = false;
};
