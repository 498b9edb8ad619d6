// The application's navigation state: which page the main window shows and which recording is
// selected. Created once by the shell with the route that the settings give.
// Thread safety: GUI thread only.
#pragma once

#include <QObject>
#include <QString>

namespace qv::ui {

// The first-run page (what this desktop allows, and a button to go on) or the library.
enum class AppRoute { welcome, library };

// The route the app opens on: the library once the user has seen the first-run page.
AppRoute initialRoute(bool onboardingComplete);

class AppState : public QObject {
    Q_OBJECT
public:
    explicit AppState(AppRoute route, QObject *parent = nullptr);

    AppRoute route() const noexcept { return route_; }
    void setRoute(AppRoute route);

    // The recording the preview, look and export act on; empty for none.
    const QString &selectedRecording() const noexcept { return selected_; }
    void setSelectedRecording(const QString &id);

signals:
    void routeChanged(qv::ui::AppRoute route);
    void selectedRecordingChanged(const QString &id);

private:
    AppRoute route_;
    QString selected_;
};

} // namespace qv::ui
