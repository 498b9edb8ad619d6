// The application's image assets "Logo" and "MenuBarIcon", compiled into the executable as Qt
// resources under ":/Quillvane/".
#pragma once

#include <QPixmap>
#include <QString>

namespace qv {

class QuillvaneResources {
public:
    // Registers the resources; safe to call more than once.
    static void initialize();
    // ":/Quillvane/<name>.png"
    static QString path(const char *name);
    static QPixmap logo();
    static QPixmap menuBarIcon();
};

} // namespace qv
