#include "ui/FUIFont.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QRawFont>

#include <cmath>
#include <cstdio>

#include "C/system/ErrorReport.h"

namespace vigil {

namespace {

struct Face {
    QString family;
    QString style;
    QFont::Style slant = QFont::StyleNormal;
};

// Main thread only, like every other font operation.
QHash<QString, Face>& faces() {
    static QHash<QString, Face> registered;
    return registered;
}

bool registerFace(const QString& faceName, const QString& file) {
    if (faces().contains(faceName))
        return true;
    if (!QFileInfo::exists(file)) {
        reportError("font " + faceName.toStdString(), file.toStdString() + " not found");
        return false;
    }
    const int id = QFontDatabase::addApplicationFont(file);
    const QStringList families =
        id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        reportError("font " + faceName.toStdString(), file.toStdString() + " could not be loaded");
        return false;
    }
    const QRawFont raw(file, 12);
    Face face{families.first(), QString()};
    if (raw.isValid()) {
        face.style = raw.styleName();
        face.slant = raw.style();
    }
    faces().insert(faceName, face);
    return true;
}

}  // namespace

int FUIFont::registerFonts(const QString& latoDirectory, const QString& glyphFile) {
    int usable = 0;
    for (const char* face :
         {"Lato-Regular", "Lato-Light", "Lato-Bold", "Lato-Italic", "Lato-Black"}) {
        const QString name = QString::fromLatin1(face);
        if (registerFace(name, QDir(latoDirectory).filePath(name + ".ttf")))
            ++usable;
    }
    if (registerFace(QString::fromLatin1(kGlyphFace), glyphFile))
        ++usable;
    return usable;
}

std::optional<QFont> FUIFont::font(const QString& faceName, double size) {
    const auto it = faces().constFind(faceName);
    if (it == faces().constEnd() || !std::isfinite(size) || size <= 0)
        return std::nullopt;
    QFont result(it->family);
    if (!it->style.isEmpty())
        result.setStyleName(it->style);
    result.setPointSizeF(size);
    return result;
}

}  // namespace vigil
