#include "benchwindow/tilelook.h"

#include "benchwindow/benchmodel.h"
#include "engine/flash/jobtext.h"

#include <QCoreApplication>

#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("BenchWindow", text);
}

double luminance(const QColor &colour)
{
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double x = luminance(a), y = luminance(b);
    return (qMax(x, y) + 0.05) / (qMin(x, y) + 0.05);
}

void TileLook::colours(Kind kind, bool dark, QColor *background, QColor *text)
{
    // The states' own colours, strong enough to tell from across the bench, the same in a
    // dark window; the neutral ones follow the window.
    switch (kind) {
    case Kind::Working:
        *background = QColor(0x0b, 0x57, 0xd0); // blue
        *text = Qt::white;
        return;
    case Kind::Passed:
        *background = QColor(0x13, 0x73, 0x33); // green
        *text = Qt::white;
        return;
    case Kind::Failed:
        *background = QColor(0xb3, 0x26, 0x1e); // red
        *text = Qt::white;
        return;
    case Kind::Cancelled:
        *background = QColor(0x8a, 0x5a, 0x00); // amber
        *text = Qt::white;
        return;
    case Kind::Waiting:
        *background = dark ? QColor(0x37, 0x47, 0x4f) : QColor(0xec, 0xef, 0xf1);
        *text = dark ? QColor(0xec, 0xef, 0xf1) : QColor(0x26, 0x32, 0x38);
        return;
    case Kind::Absent:
    case Kind::Ignored:
        *background = dark ? QColor(0x26, 0x32, 0x38) : QColor(0xf5, 0xf5, 0xf5);
        *text = dark ? QColor(0xb0, 0xbe, 0xc5) : QColor(0x5f, 0x63, 0x68);
        return;
    }
}

TileLook TileLook::of(const BenchModel &model, int row, bool dark)
{
    using State = BenchModel::State;
    const BenchModel::Port &port = model.portAt(row);
    TileLook look;
    look.title = boardLabel(port.slot, port.name);
    look.boardId = model.boardId(row);
    if (!port.ignored.isEmpty()) {
        look.kind = Kind::Ignored;
        look.word = tr("Ignored");
        look.detail = port.ignored;
    } else if (!model.isPresent(row) && model.state(row) != State::Flashing) {
        look.kind = Kind::Absent; // pulled: its result went with it
        look.word = tr("Unplugged");
    } else {
        switch (model.state(row)) {
        case State::Waiting:
        case State::Absent:
            look.kind = Kind::Waiting;
            look.word = tr("Waiting");
            break;
        case State::Flashing: {
            look.kind = Kind::Working;
            const FlashJob::Phase phase = model.phase(row);
            if (phase == FlashJob::Phase::Sending) {
                look.progress = model.progress(row);
                look.word = tr("Flashing %1 %").arg(int(look.progress * 100));
                look.detail = model.timeLeft(row);
            } else {
                look.word = phase == FlashJob::Phase::Settling ? tr("Settling") : tr("Waking");
                look.detail = phase == FlashJob::Phase::Waking
                                  ? tr("bootloader: %1 s").arg(int(model.seconds(row)))
                                  : QString();
            }
            break;
        }
        case State::Passed:
            look.kind = Kind::Passed;
            look.word = tr("Passed");
            look.detail = tr("unplug it");
            break;
        case State::Failed:
            look.kind = Kind::Failed;
            look.word = tr("Failed");
            look.detail = model.message(row);
            break;
        case State::Cancelled:
            look.kind = Kind::Cancelled;
            look.word = tr("Cancelled");
            break;
        }
    }
    colours(look.kind, dark, &look.background, &look.text);
    return look;
}
