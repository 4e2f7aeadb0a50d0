// The list of the shown log file: one column, the last line of the file at the top.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>

#include <cstddef>
#include <string_view>

#include "viewer/logrows.h"

// The rows of the list, over the rows of the file in reverse order: row 0 is the file's last row.
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

    static constexpr std::size_t kMaxShownBytes = 64 << 10;

private:
    LogRows m_rows;
};

class CVantrelView : public QTableView {
    Q_OBJECT

public:
    explicit CVantrelView(QWidget* parent = nullptr);

    // Sets the list up when the view gets its document, and again after every open of a
    // document; the column is created once.
    void OnInitialUpdate();
    // Replaces the rows and fits the column to the widest of them.
    void ShowRows(LogRows rows);

    CLogModel& Model() { return m_model; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Makes column 0 as wide as its widest row needs.
    void FitColumn();
    // Makes column 0 as wide as the list, less one pixel.
    void SpanColumn();

    CLogModel m_model;
    bool m_columnReady = false;
    // Until the first load the column spans the list; windowing systems that size the window
    // after it is shown report the list's final width only then.
    bool m_spanning = false;
};
