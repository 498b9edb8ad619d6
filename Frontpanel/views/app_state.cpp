#include "Frontpanel/views/app_state.h"

namespace qv::ui {

AppRoute initialRoute(bool onboardingComplete) {
    return onboardingComplete ? AppRoute::library : AppRoute::welcome;
}

AppState::AppState(AppRoute route, QObject *parent) : QObject(parent), route_(route) {
}

void AppState::setRoute(AppRoute route) {
    if (route == route_) return;
    route_ = route;
    emit routeChanged(route);
}

void AppState::setSelectedRecording(const QString &id) {
    if (id == selected_) return;
    selected_ = id;
    emit selectedRecordingChanged(id);
}

} // namespace qv::ui
