#include "app/window_memory.h"

#include "scene/scene.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace hopshot {

namespace {

constexpr int kLargestEdge = 16384;   // pixels: larger than any screen, smaller than trouble
constexpr int kLongestService = 253 + 6;   // a DNS name's longest, a colon and a port

// A host name or IPv4 address, with a port or not: nothing else is taken from the file.
bool plausibleService(const QString& s) {
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]{1,5})?$"));
    return s.size() <= kLongestService && form.match(s).hasMatch();
}

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

QString WindowMemory::meetService() const {
    if (!QFileInfo(path_).isFile()) return {};
    const QSettings file(path_, QSettings::IniFormat);
    const QVariant v = file.value(QStringLiteral("network/meet"));
    if (v.typeId() != QMetaType::QString) return {};
    const QString s = v.toString();
    return plausibleService(s) ? s : QString();
}

bool WindowMemory::writeMeetService(const QString& service) const {
    if (!plausibleService(service) || !QDir().mkpath(QFileInfo(path_).path())) return false;
    QSettings file(path_, QSettings::IniFormat);
    file.setValue(QStringLiteral("network/meet"), service);
    file.sync();
    return file.status() == QSettings::NoError;
}

}  // namespace hopshot
