// The application `Quillvane`: the shell on Qt's event loop.
#include "Quillvane/app/quillvane_app.h"

#include "platform/core/allocator_tuning.h"

#include <QApplication>

int main(int argc, char **argv) {
    qv::platform::tuneAllocatorForFrames();
    QApplication application(argc, argv);
    qv::QuillvaneApp::configureApplication();

    qv::QuillvaneApp app;
    app.declareScenes();
    return QApplication::exec();
}
