#pragma once

#include <QApplication>

#include "ui/FUIFont.h"

namespace vigil::bench {

// The one QApplication of a view benchmark: offscreen unless QT_QPA_PLATFORM says otherwise, with
// the views' fonts, and never the user's settings (XDG_CONFIG_HOME points at a scratch folder
// unless VIGIL_BENCH_KEEP_CONFIG is set).
inline QApplication& offscreenApp() {
    static int argc = 1;
    static char name[] = "vigil-bench";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = [] {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (!qEnvironmentVariableIsSet("VIGIL_BENCH_KEEP_CONFIG"))
            qputenv("XDG_CONFIG_HOME", "/tmp/vigil-bench-config");
        auto* created = new QApplication(argc, argv);
        vigil::FUIFont::registerFonts();
        return created;
    }();
    return *instance;
}

}  // namespace vigil::bench
