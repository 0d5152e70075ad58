#include "benchwindow/boardwall.h"

#include "benchwindow/tiledelegate.h"

#include <QResizeEvent>
#include <QScrollBar>

#include <cmath>

namespace {

constexpr int gap = 6; // between tiles

} // namespace

BoardWall::BoardWall(QWidget *parent) : QListView(parent)
{
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setUniformItemSizes(true);
    setSpacing(0);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows); // the row the table selects too
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(new TileDelegate(this));
#if QT_CONFIG(accessibility) // a Qt built without it has no such names
    setAccessibleName(tr("Board wall"));
#endif
}

int BoardWall::stateWordPixels() const
{
    return m_wordPixels;
}

int BoardWall::detailPixels() const
{
    return qBound(12, m_tile.height() / 9, 28);
}

void BoardWall::layOutTiles()
{
    int shown = 0;
    if (model())
        for (int row = 0; row < model()->rowCount(rootIndex()); ++row)
            shown += !isRowHidden(row);
    // Room kept for the scroll bar either way, so that a wall that just fits never gets one and
    // then wraps a tile over.
    const QSize area = maximumViewportSize();
    const int across = area.width() - verticalScrollBar()->sizeHint().width() - 1;
    const int down = area.height() - 1;
    QSize best = smallestTile;
    double bestScore = -1;
    // The number of columns whose tiles are largest, a tile not much wider than it is tall.
    for (int columns = 1; columns <= qMax(1, shown); ++columns) {
        const int rows = (qMax(1, shown) + columns - 1) / columns;
        const int w = across / columns - gap;
        const int h = qMin(down / rows - gap, w);
        if (w < smallestTile.width())
            break;
        const double score = qMin(double(w) / 1.6, double(h));
        if (h >= smallestTile.height() && score > bestScore) {
            bestScore = score;
            best = QSize(w, h);
        }
    }
    if (bestScore < 0) { // more than fit: the smallest readable tiles, as many a row as fit
        const int columns = qMax(1, across / (smallestTile.width() + gap));
        best = QSize(across / columns - gap, smallestTile.height());
    }
    if (best == m_tile && gridSize() == best + QSize(gap, gap))
        return;
    m_tile = best;
    // As tall as a quarter of the tile, and narrow enough for the longest word across it.
    QFont word = font();
    word.setBold(true);
    const int inside = best.width() - 6 - 2 * qMax(6, best.height() / 14);
    m_wordPixels = qBound(14, int(best.height() * 0.26), 120);
    for (; m_wordPixels > 14; --m_wordPixels) {
        word.setPixelSize(m_wordPixels);
        if (QFontMetrics(word).horizontalAdvance(tr("Flashing 100 %")) <= inside)
            break;
    }
    setGridSize(best + QSize(gap, gap));
    doItemsLayout();
    viewport()->update();
}

void BoardWall::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    layOutTiles();
}

void BoardWall::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QListView::rowsInserted(parent, start, end);
    layOutTiles();
}
