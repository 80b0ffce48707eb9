#pragma once

#include <QLabel>
#include <QMenu>
#include <QString>

#include <string>

namespace vigil {

class HorizontalLine;
class Workspace;

// Small pieces the disk, network and battery details share.

inline QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// How a theme colours a text field: as a value (the label colour), as a caption (the title
// colour), or never (the field keeps a colour of its own).
enum class FieldRole { value, caption, ownColor };

// A text field in a Lato face of `size` points (the application font at that size when the face
// is missing).
QLabel* detailLabel(QWidget* parent, double size, bool bold = false,
                    FieldRole role = FieldRole::value);
// A caption: a title-coloured field holding `text`.
QLabel* detailCaption(QWidget* parent, double size, const QString& text);

// A fact line of a context menu: the title on the left, the returned value field on the right.
QLabel* addMenuFact(QMenu* menu, const QString& title);

// The thin line under a volume, an interface or the battery figures.
HorizontalLine* detailSeparator(QWidget* parent);

// Whether the views in `contents` show exactly the keys of `items` (not only as many: one item
// gone and another come between two ticks must not leave a stale view).
template <typename Map, typename Contents, typename KeyOf>
bool showsSameKeys(const Map& items, const Contents& contents, KeyOf keyOf) {
    if (items.size() != contents.size())
        return false;
    for (const auto& controller : contents) {
        if (items.count(keyOf(*controller)) == 0)
            return false;
    }
    return true;
}

// The menu font of the details: the system's general font at 13 points.
QFont detailMenuFont();

// The desktop's workspace, made on first use (main thread).
Workspace& desktopWorkspace();

}  // namespace vigil
