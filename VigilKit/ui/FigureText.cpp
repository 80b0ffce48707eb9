#include "ui/FigureText.h"

#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QLabel>

#include <algorithm>

#include "ui/AccessibleViews.h"

namespace vigil {

namespace {

// The digit with the widest advance in the font (digits are usually all as wide).
QChar widestDigit(const QFontMetrics& metrics) {
    QChar widest = u'0';
    int width = metrics.horizontalAdvance(widest);
    for (char16_t d = u'1'; d <= u'9'; ++d) {
        const int w = metrics.horizontalAdvance(QChar(d));
        if (w > width) {
            width = w;
            widest = QChar(d);
        }
    }
    return widest;
}

// The size the label needs for text of this shape, kept per font and shape.
QSize figureSize(const QLabel& label, const QString& text) {
    struct Font {
        QChar widest;
        QHash<QString, QSize> sizes;
    };
    // Keyed by the font itself: hashing its request is far cheaper than building QFont::key().
    static QHash<QFont, Font> fonts;  // views live on the main thread only
    const QFont& labelFont = label.font();
    auto font = fonts.find(labelFont);
    if (font == fonts.end()) {
        if (fonts.size() > 32)
            fonts.clear();
        font = fonts.insert(labelFont, Font{widestDigit(label.fontMetrics()), {}});
    }
    QString shape = text;
    for (QChar& c : shape) {
        if (c.isDigit())
            c = font->widest;
    }
    auto known = font->sizes.constFind(shape);
    if (known != font->sizes.constEnd())
        return *known;
    if (font->sizes.size() > 256)
        font->sizes.clear();
    const QSize textSize = label.fontMetrics().size(Qt::TextSingleLine, shape);
    const QMargins margins = label.contentsMargins();
    const int frame = 2 * label.margin();
    // One pixel to spare for antialiased edges and rounding.
    const QSize size(textSize.width() + margins.left() + margins.right() + frame + 1,
                     textSize.height() + margins.top() + margins.bottom() + frame);
    font->sizes.insert(shape, size);
    return size;
}

}  // namespace

void showFigure(QLabel& label, const QString& text) {
    if (label.text() == text)
        return;
    // Until it is shown and laid out, the label takes what size its layout gives it.
    if (!label.isVisible()) {
        label.setText(text);
        noteValueChanged(label);
        return;
    }
    // Held at the size the layout gave it, so it stays where it was; grown when a text needs it.
    const QSize needed = figureSize(label, text);
    const QSize held = label.size();
    const bool fixed = label.minimumSize() == label.maximumSize();
    if (!fixed || needed.width() > held.width() || needed.height() > held.height()) {
        label.setFixedSize(std::max(needed.width(), held.width()),
                           std::max(needed.height(), held.height()));
    }
    label.setText(text);
    noteValueChanged(label);
}

}  // namespace vigil
