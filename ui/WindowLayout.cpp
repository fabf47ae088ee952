#include "ui/WindowLayout.h"

#include <QCheckBox>
#include <QPushButton>

void widenToFit(QWidget *widget, int rightLimit)
{
    const int needed = widget->sizeHint().width();
    if (needed > widget->width())
        widget->resize(qMax(widget->width(), qMin(needed, rightLimit - widget->x())), widget->height());
}

QPushButton *makeButton(QWidget *parent, const char *name, const QRect &geometry, const QString &caption, bool enabled)
{
    auto *button = place<QPushButton>(parent, name, geometry);
    button->setText(caption);
    button->setEnabled(enabled);
    return button;
}

QCheckBox *makeCheckBox(QWidget *parent, const char *name, const QRect &geometry, const QString &caption, bool checked)
{
    auto *box = place<QCheckBox>(parent, name, geometry);
    box->setText(caption);
    box->setChecked(checked);
    return box;
}
