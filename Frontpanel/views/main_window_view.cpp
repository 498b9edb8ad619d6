#include "Frontpanel/views/main_window_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

namespace qv::ui {

MainWindowView::MainWindowView(AppState &appState, SettingsStore &settings,
                               PermissionsManager &permissions, RecordingSessionModel &,
                               RecordingBarController &, WebcamPreviewController &webcamPreview,
                               TeleprompterController &teleprompter, LibraryStore &library,
                               ExportEngine &exportEngine, QWidget *parent)
    : QWidget(parent), appState_(appState), settings_(settings), permissions_(permissions),
      libraryStore_(library) {
    setObjectName(QStringLiteral("mainContent"));
    pages_ = new QStackedWidget(this);

    // First run: what this desktop allows.
    auto *welcome = new QWidget(pages_);
    welcome->setObjectName(QStringLiteral("welcome"));
    auto *title = new QLabel(QStringLiteral("<h2>Welcome to Quillvane</h2>"), welcome);
    welcomeText_ = new QLabel(welcome);
    welcomeText_->setWordWrap(true);
    auto *go = new QPushButton(QStringLiteral("Continue to the Library"), welcome);
    go->setObjectName(QStringLiteral("continue"));
    auto *welcomeLayout = new QVBoxLayout(welcome);
    welcomeLayout->addStretch(1);
    welcomeLayout->addWidget(title);
    welcomeLayout->addWidget(welcomeText_);
    welcomeLayout->addWidget(go, 0, Qt::AlignLeft);
    welcomeLayout->addStretch(2);
    auto describe = [this, &permissions] {
        QStringList lines;
        for (const PermissionsManager::Check &c : permissions.checks()) {
            const bool ok = c.status == PermissionsManager::Status::granted;
            lines << QStringLiteral("%1 %2: %3%4")
                         .arg(ok ? QStringLiteral("✓") : QStringLiteral("✗"),
                              QString::fromUtf8(PermissionsManager::name(c.capability)),
                              QString::fromStdString(c.detail),
                              ok || c.advice.empty()
                                  ? QString()
                                  : QStringLiteral(" — ") + QString::fromStdString(c.advice));
        }
        welcomeText_->setText(lines.join(QLatin1Char('\n')));
    };
    describe();
    permissionsObserver_ = permissions.observe(describe);
    connect(go, &QPushButton::clicked, this, &MainWindowView::finishOnboarding);

    // The library with the preview and the export panel.
    auto *work = new QSplitter(Qt::Horizontal, pages_);
    work->setObjectName(QStringLiteral("work"));
    library_ = new LibraryView(library, appState_, work);
    auto *right = new QWidget(work);
    preview_ = new PreviewView(right);
    auto *tabs = new QTabWidget(right);
    export_ = new ExportPanel(exportEngine, appState_, tabs);
    look_ = new LookInspector(tabs);
    tabs->addTab(look_, QStringLiteral("Look"));
    tabs->addTab(export_, QStringLiteral("Export"));
    auto *tools = new QHBoxLayout;
    auto *camera = new QPushButton(QStringLiteral("Camera"), right);
    camera->setCheckable(true);
    auto *prompter = new QPushButton(QStringLiteral("Teleprompter"), right);
    prompter->setCheckable(true);
    tools->addWidget(camera);
    tools->addWidget(prompter);
    tools->addStretch(1);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->addLayout(tools);
    rightLayout->addWidget(preview_, 3);
    rightLayout->addWidget(tabs, 2);
    work->addWidget(library_);
    work->addWidget(right);
    work->setStretchFactor(1, 1);
    connect(camera, &QPushButton::toggled, this,
            [&webcamPreview](bool on) { on ? webcamPreview.show() : webcamPreview.hide(); });
    connect(prompter, &QPushButton::toggled, this,
            [&teleprompter](bool on) { on ? teleprompter.show() : teleprompter.hide(); });

    pages_->addWidget(welcome);
    pages_->addWidget(work);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(pages_);

    preview_->setShowFrameRate(settings_.settings().showFrameRate);
    settingsObserver_ = settings_.observe(
        [this](const AppSettings &s) { preview_->setShowFrameRate(s.showFrameRate); });
    connect(look_, &LookInspector::editsChanged, this,
            [this](const Edits &edits) { preview_->setEdits(edits); });
    connect(&appState_, &AppState::routeChanged, this, &MainWindowView::showRoute);
    connect(&appState_, &AppState::selectedRecordingChanged, this, &MainWindowView::openSelected);
    showRoute(appState_.route());
    openSelected(appState_.selectedRecording());
}

MainWindowView::~MainWindowView() {
    settings_.removeObserver(settingsObserver_);
    permissions_.removeObserver(permissionsObserver_);
}

void MainWindowView::finishOnboarding() {
    AppSettings changed = settings_.settings();
    changed.onboardingComplete = true;
    // The route changes even when the file cannot be written; the settings window says why.
    settings_.update(changed);
    appState_.setRoute(AppRoute::library);
}

void MainWindowView::showRoute(AppRoute route) {
    pages_->setCurrentIndex(route == AppRoute::welcome ? 0 : 1);
}

void MainWindowView::openSelected(const QString &id) {
    if (id.isEmpty()) {
        preview_->close();
        look_->close();
        return;
    }
    const std::filesystem::path folder = libraryStore_.recordingsFolder() / id.toStdString();
    preview_->open(folder, std::nullopt, Size{previewWidth, previewHeight});
    look_->open(folder);
}

} // namespace qv::ui
