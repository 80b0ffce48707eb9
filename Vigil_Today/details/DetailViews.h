#pragma once

#include <QLabel>
#include <QMenu>
#include <QString>

#include <string>

namespace vigil {

class Workspace;

// Small pieces the disk, network and battery details share.

inline QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// A text field in a Lato face of `size` points (the application font at that size when the face
// is missing).
QLabel* detailLabel(QWidget* parent, double size, bool bold = false);

// A fact line of a context menu: the title on the left, the returned value field on the right.
QLabel* addMenuFact(QMenu* menu, const QString& title);

// The menu font of the details: the system's general font at 13 points.
QFont detailMenuFont();

// The desktop's workspace, made on first use (main thread).
Workspace& desktopWorkspace();

}  // namespace vigil
