#include "Quillvane/app/quillvane_resources.h"

#include <QDir>

// The resources live in a static library; without this reference the linker may drop them.
static void initializeQuillvaneResources() {
    Q_INIT_RESOURCE(quillvane);
}

namespace qv {

void QuillvaneResources::initialize() {
    static const bool once = (initializeQuillvaneResources(), true);
    (void)once;
}

QString QuillvaneResources::path(const char *name) {
    return QStringLiteral(":/Quillvane/%1.png").arg(QString::fromUtf8(name));
}

QPixmap QuillvaneResources::logo() {
    initialize();
    return QPixmap(path("Logo"));
}

QPixmap QuillvaneResources::menuBarIcon() {
    initialize();
    return QPixmap(path("MenuBarIcon"));
}

} // namespace qv
