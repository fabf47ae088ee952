#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

class QCheckBox;
class QPushButton;

// The windows are laid out in twips, 15 to a pixel at 96 dpi.
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

inline QRect twipRect(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

template<typename Widget>
Widget *place(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

// Widens a control whose caption does not fit in the platform's font, into free space up to `rightLimit` only.
void widenToFit(QWidget *widget, int rightLimit);

QPushButton *makeButton(QWidget *parent, const char *name, const QRect &geometry, const QString &caption, bool enabled);
QCheckBox *makeCheckBox(QWidget *parent, const char *name, const QRect &geometry, const QString &caption, bool checked);
