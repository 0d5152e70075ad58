#pragma once

#include <QListView>

// The bench as an operator reads it from two metres: a tile a board, in the rows' order, the
// tiles sized to fill the view; with more boards than fit at a readable size, that size holds
// and the wall scrolls. Arrow keys move between tiles; it shares its selection with the table.
class BoardWall : public QListView
{
    Q_OBJECT

public:
    explicit BoardWall(QWidget *parent = nullptr);

    // The smallest tile a state word stays readable in.
    static constexpr QSize smallestTile{180, 110};

    QSize tileSize() const { return m_tile; }
    // The pixel size of a tile's state word, and of its other lines, at the tiles' size now.
    int stateWordPixels() const;
    int detailPixels() const;
    // Lays the tiles out again: after a resize, and when rows come, go or are hidden.
    void layOutTiles();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;

private:
    QSize m_tile = smallestTile;
    int m_wordPixels = 14;
};
