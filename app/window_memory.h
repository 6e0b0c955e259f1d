// The window's size and full screen, and the meeting service last named for network play,
// remembered from one run to the next in an INI file in the user's config folder. Only the
// window's own state: the game's settings are never saved.
#pragma once

#include <QSize>
#include <QString>

namespace hopshot {

struct WindowState {
    QSize size;               // the window's area below its menu bar, out of full screen;
                              // invalid: none remembered
    bool fullScreen = false;
};

// $XDG_CONFIG_HOME/hopshot/window.conf (~/.config/hopshot/window.conf).
QString windowMemoryPath();

class WindowMemory {
public:
    explicit WindowMemory(QString path) : path_(std::move(path)) {}
    // What the file holds; a size it has no business holding (not numbers, too small, too
    // large) reads as none.
    WindowState read() const;
    bool write(const WindowState& state) const;
    // The meeting service's HOST[:PORT] last named; empty: none, or one the file has no business
    // holding (too long, or other than a host name's or address's characters and a port).
    QString meetService() const;
    bool writeMeetService(const QString& service) const;

private:
    QString path_;
};

}  // namespace hopshot
