#pragma once

#include <QStyledItemDelegate>

class BoardWall;

// Paints a board's tile on the wall from its look (tilelook.h): the state's colour, its word
// in large type, the slot, the board ID, and the reason or the time left; a bar while the image
// goes out. One painter pass a tile, no widget a tile.
class TileDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit TileDelegate(BoardWall *wall);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    BoardWall *m_wall;
};
