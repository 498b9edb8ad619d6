// The application `Quillvane`: the shell on Qt's event loop.
#include "Quillvane/app/quillvane_app.h"
#include "Quillvane/app/quillvane_resources.h"

#include "platform/core/allocator_tuning.h"
#include "platform/media/codec_log.h"

#include <QApplication>

int main(int argc, char **argv) {
    qv::platform::tuneAllocatorForFrames();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillvane"));
    QApplication::setDesktopFileName(QStringLiteral("quillvane"));
    // The tray icon keeps the application running when the main window is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    qv::QuillvaneResources::initialize();
    QApplication::setWindowIcon(qv::QuillvaneResources::logo());
    qv::platform::media::quietCodecLogs();

    qv::QuillvaneApp app;
    app.declareScenes();
    return QApplication::exec();
}
