#include "ui/StatusIcons.h"

#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QRadialGradient>

namespace {

// Draws the ball for each size and device pixel ratio, so it stays crisp on high-DPI screens.
class BallIconEngine : public QIconEngine
{
public:
    explicit BallIconEngine(QColor colour)
        : m_colour(colour)
    {
    }

    // A list repaints many rows many times a second: each size is drawn once.
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QSize pixels = (QSizeF(rect.size()) * ratio).toSize();
        const quint64 key = (quint64(pixels.width()) << 33) | (quint64(pixels.height()) << 1) | (mode == QIcon::Disabled);
        QPixmap &cached = m_cache[key];
        if (cached.isNull()) {
            cached = QPixmap(pixels);
            cached.fill(Qt::transparent);
            QPainter ball(&cached);
            draw(&ball, QRect(QPoint(0, 0), pixels), mode);
            cached.setDevicePixelRatio(ratio);
        }
        painter->drawPixmap(rect, cached);
        Q_UNUSED(state);
    }

    void draw(QPainter *painter, const QRect &rect, QIcon::Mode mode) const
    {
        const QColor base = mode == QIcon::Disabled ? QColor(160, 160, 160) : m_colour;
        const qreal side = qMin(rect.width(), rect.height()) * 0.875;
        const QRectF disc(rect.center().x() + 0.5 - side / 2, rect.center().y() + 0.5 - side / 2, side, side);
        QRadialGradient shading(disc.left() + side * 0.35, disc.top() + side * 0.3, side * 0.75);
        shading.setColorAt(0.0, base.lighter(190));
        shading.setColorAt(0.45, base);
        shading.setColorAt(1.0, base.darker(170));
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(base.darker(220), qMax<qreal>(1.0, side / 16)));
        painter->setBrush(shading);
        painter->drawEllipse(disc);
        painter->restore();
    }

    // QIcon asks for the size in device pixels and sets the ratio itself.
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap image(size);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        draw(&painter, QRect(QPoint(0, 0), size), mode);
        Q_UNUSED(state);
        return image;
    }

    QIconEngine *clone() const override { return new BallIconEngine(m_colour); }

private:
    QColor m_colour;
    QHash<quint64, QPixmap> m_cache;
};

} // namespace

std::array<QIcon, 4> statusIcons()
{
    return {
        QIcon(new BallIconEngine(QColor(240, 200, 0))),
        QIcon(new BallIconEngine(QColor(30, 90, 220))),
        QIcon(new BallIconEngine(QColor(20, 170, 40))),
        QIcon(new BallIconEngine(QColor(210, 30, 30))),
    };
}
