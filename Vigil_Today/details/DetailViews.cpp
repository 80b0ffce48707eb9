#include "details/DetailViews.h"

#include <QFontDatabase>
#include <QHBoxLayout>

#include "host/Workspace.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"
#include "ui/Shape.h"
#include "views/MenuItemView.h"

namespace vigil {

QLabel* detailLabel(QWidget* parent, double size, bool bold, FieldRole role) {
    QLabel* label = nullptr;
    switch (role) {
        case FieldRole::caption:
            label = new TitleField(parent);
            break;
        case FieldRole::ownColor:
            label = new NoThemeField(parent);
            break;
        case FieldRole::value:
            label = new QLabel(parent);
            break;
    }
    auto font = bold ? FUIFont::bold(size) : FUIFont::normal(size);
    QFont fallback = label->font();
    fallback.setPointSizeF(size);
    if (bold)
        fallback.setBold(true);
    label->setFont(font.value_or(fallback));
    return label;
}

QLabel* detailCaption(QWidget* parent, double size, const QString& text) {
    QLabel* label = detailLabel(parent, size, false, FieldRole::caption);
    label->setText(text);
    return label;
}

QLabel* addMenuFact(QMenu* menu, const QString& title) {
    auto* row = new MenuItemView();
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(14, 3, 14, 3);
    layout->setSpacing(16);
    auto* name = detailLabel(row, 12);
    name->setText(title);
    auto* value = detailLabel(row, 12);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(name);
    layout->addStretch(1);
    layout->addWidget(value);
    row->addTo(menu);
    return value;
}

HorizontalLine* detailSeparator(QWidget* parent) {
    auto* line = new HorizontalLine(parent);
    line->setFixedHeight(1);
    line->setLineWidth(1.0);
    line->setColor(FUIColor::silver(0.6));
    return line;
}

QFont detailMenuFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(13);
    return font;
}

Workspace& desktopWorkspace() {
    static DesktopWorkspace workspace;
    return workspace;
}

}  // namespace vigil
