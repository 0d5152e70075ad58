#pragma once

#include <QStyledItemDelegate>

// Draws the progress column as the style's own progress bar, with the percent on it: one
// painter pass per visible row, no widget per row.
class ProgressDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
