#include "app/window_memory.h"

#include "scene/scene.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace hopshot {

namespace {

constexpr int kLargestEdge = 16384;   // pixels: larger than any screen, smaller than trouble

}  // namespace

QString windowMemoryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/hopshot/window.conf");
}

WindowState WindowMemory::read() const {
    WindowState state;
    if (!QFileInfo(path_).isFile()) return state;
    const QSettings file(path_, QSettings::IniFormat);
    bool wideOk = false, highOk = false;
    const int wide = file.value(QStringLiteral("window/width")).toInt(&wideOk);
    const int high = file.value(QStringLiteral("window/height")).toInt(&highOk);
    // The window is never smaller than a quarter of the picture each way.
    if (wideOk && highOk && wide >= scene::kDeviceWidth / 4 && high >= scene::kDeviceHeight / 4 &&
        wide <= kLargestEdge && high <= kLargestEdge)
        state.size = QSize(wide, high);
    state.fullScreen = file.value(QStringLiteral("window/fullScreen")).toString() ==
                       QStringLiteral("true");
    return state;
}

bool WindowMemory::write(const WindowState& state) const {
    if (!QDir().mkpath(QFileInfo(path_).path())) return false;
    QSettings file(path_, QSettings::IniFormat);
    if (state.size.isValid()) {
        file.setValue(QStringLiteral("window/width"), state.size.width());
        file.setValue(QStringLiteral("window/height"), state.size.height());
    }
    file.setValue(QStringLiteral("window/fullScreen"), state.fullScreen);
    file.sync();
    return file.status() == QSettings::NoError;
}

}  // namespace hopshot
