#include "benchwindow/tiledelegate.h"

#include "benchwindow/benchmodel.h"
#include "benchwindow/boardwall.h"
#include "benchwindow/tilelook.h"

#include <QPainter>
#include <QPainterPath>

TileDelegate::TileDelegate(BoardWall *wall) : QStyledItemDelegate(wall), m_wall(wall) {}

QSize TileDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return m_wall->tileSize();
}

void TileDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const
{
    const auto *model = qobject_cast<const BenchModel *>(index.model());
    if (!model)
        return;
    const bool dark = option.palette.color(QPalette::Window).lightness() < 128;
    const TileLook look = TileLook::of(*model, index.row(), dark);
    const QRect tile = option.rect.adjusted(3, 3, -3, -3);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(tile, 8, 8);
    painter->fillPath(shape, look.background);
    if (look.progress >= 0) { // the part sent, a lighter band along the bottom
        const int band = qMax(6, tile.height() / 10);
        QRect bar(tile.left(), tile.bottom() - band + 1, tile.width(), band);
        painter->fillRect(bar, look.background.darker(140));
        bar.setWidth(int(tile.width() * look.progress));
        painter->fillRect(bar, look.background.lighter(160));
    }
    // The current tile, as the keyboard moves it: a frame in the text's colour.
    if (option.state & QStyle::State_Selected) {
        painter->setPen(QPen(look.text, 3));
        painter->drawPath(shape);
    }
    const int pad = qMax(6, tile.height() / 14);
    const QRect inside = tile.adjusted(pad, pad, -pad, -pad);
    painter->setPen(look.text);

    QFont small = option.font;
    small.setPixelSize(m_wall->detailPixels());
    QFont title = small;
    title.setBold(true);
    painter->setFont(title);
    const QFontMetrics titleMetrics(title);
    painter->drawText(inside.left(), inside.top(), inside.width(), titleMetrics.height(),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      titleMetrics.elidedText(look.title, Qt::ElideMiddle, inside.width()));

    QFont word = option.font;
    word.setPixelSize(m_wall->stateWordPixels());
    word.setBold(true);
    painter->setFont(word);
    painter->drawText(inside, Qt::AlignCenter,
                      QFontMetrics(word).elidedText(look.word, Qt::ElideRight, inside.width()));

    painter->setFont(small);
    const QFontMetrics smallMetrics(small);
    QStringList lines;
    if (!look.boardId.isEmpty())
        lines << tr("ID %1").arg(look.boardId);
    if (!look.detail.isEmpty())
        lines << look.detail;
    int bottom = inside.bottom() - (look.progress >= 0 ? tile.height() / 10 : 0);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const int height = smallMetrics.height();
        painter->drawText(inside.left(), bottom - height + 1, inside.width(), height,
                          Qt::AlignLeft | Qt::AlignVCenter,
                          smallMetrics.elidedText(*line, Qt::ElideRight, inside.width()));
        bottom -= height;
    }
    painter->restore();
}
