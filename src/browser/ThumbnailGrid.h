#pragma once

#include <QAbstractItemView>
#include <utility>

// The thumbnail grid: a cell of one size for each row of the model, in the model's order,
// in lines as wide as the view allows. Where a cell lies follows from its row alone, so
// a million rows cost no layout pass and nothing kept per row; only the cells in view are
// ever looked at. The cell's size is the item delegate's size hint.
class ThumbnailGrid : public QAbstractItemView {
    Q_OBJECT
  public:
    static constexpr int kSpacing = 2;

    explicit ThumbnailGrid(QWidget* parent = nullptr);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

  protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QSize Cell() const;
    int Count() const;
    int Columns() const;
    // The cell of `row` in the viewport's coordinates.
    QRect CellRect(int row) const;
    // The first and the last row whose cells `area` (viewport coordinates) touches, in
    // the order of the rows; first > last where there is none.
    std::pair<int, int> RowsIn(const QRect& area) const;
};
