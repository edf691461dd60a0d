#pragma once

#include <QTableView>

// The details list: a table, because a table keeps nothing per row but its height, where
// a tree view keeps a record of every row it lays out. The keys move as in a flat tree:
// Home and End to the first and the last row, Left and Right scroll the columns, Tab
// leaves the list.
class DetailsView : public QTableView {
    Q_OBJECT
  public:
    explicit DetailsView(QWidget* parent = nullptr);

    QHeaderView* header() const { return horizontalHeader(); }

  protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void changeEvent(QEvent* event) override;

  private:
    // Every row the height of a line of text in the list's font, as an item view's row.
    void FitRowHeight();
};
