#pragma once

#include <QEvent>
#include <QLineEdit>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

// A line edit of the settings forms, named for tests and for screen readers.
inline QLineEdit *makeField(QWidget *parent, const char *name, const QString &label)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setAccessibleName(label);
    return field;
}

// Draws the field's hint (placeholder) between its text and base colours,
// whatever scheme is in force, and follows a change of scheme. A dark scheme
// that names no placeholder colour of its own would otherwise leave the light
// scheme's dark grey on a black field. The field is kept wide enough to show
// the whole hint, in its font.
class ReadablePlaceholder : public QObject {
public:
    explicit ReadablePlaceholder(QLineEdit *field)
        : QObject(field)
    {
        apply(field);
        fit(field);
        field->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange)
            apply(static_cast<QLineEdit *>(watched));
        else if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            fit(static_cast<QLineEdit *>(watched));
        return false;
    }

    // The width the field needs to show its whole hint.
    static int hintWidth(const QLineEdit *field)
    {
        QStyleOptionFrame option;
        option.initFrom(field);
        option.lineWidth = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field);
        const QMargins margins = field->textMargins();
        // 2 pixels a side: the line edit's own inner margin.
        const int text = field->fontMetrics().horizontalAdvance(field->placeholderText()) + 4 + margins.left()
            + margins.right() + 2;
        return field->style()
            ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(text, field->fontMetrics().height()), field)
            .width();
    }

private:
    static void fit(QLineEdit *field) { field->setMinimumWidth(std::max(field->minimumWidth(), hintWidth(field))); }

    static void apply(QLineEdit *field)
    {
        const QPalette shown = field->palette();
        // Only the hint's colour is the field's own; every other colour
        // still follows the scheme.
        QPalette own;
        bool changed = false;
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const QColor text = shown.color(group, QPalette::Text);
            const QColor base = shown.color(group, QPalette::Base);
            const QColor hint = QColor::fromRgbF(0.6f * text.redF() + 0.4f * base.redF(),
                                                 0.6f * text.greenF() + 0.4f * base.greenF(),
                                                 0.6f * text.blueF() + 0.4f * base.blueF());
            own.setColor(group, QPalette::PlaceholderText, hint);
            changed = changed || shown.color(group, QPalette::PlaceholderText) != hint;
        }
        if (changed)
            field->setPalette(own); // its own PaletteChange then finds nothing to do
    }
};
