#include "Frontpanel/views/scene_style_panel.h"

#include "Compositor/assets/wallpaper_cache.h"
#include "Frontpanel/views/frame_renderer.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QUndoCommand>
#include <QUndoStack>
#include <QVBoxLayout>

namespace qv::ui {

using Scene = Edits::Scene;

// One change of the scene, undone by going back to the scene before it.
class SceneChange : public QUndoCommand {
public:
    SceneChange(LookInspector &inspector, Scene before, Scene after)
        : inspector_(inspector), before_(std::move(before)), after_(std::move(after)) {
        setText(QStringLiteral("Change the look"));
    }
    void undo() override { inspector_.apply(before_); }
    void redo() override { inspector_.apply(after_); }

private:
    LookInspector &inspector_;
    Scene before_, after_;
};

namespace {

template <class Enum> struct Choice {
    Enum value;
    const char *title;
};

template <class Enum>
QComboBox *enumBox(QWidget *parent, std::initializer_list<Choice<Enum>> choices) {
    auto *box = new QComboBox(parent);
    for (const auto &c : choices) box->addItem(QString::fromUtf8(c.title), int(c.value));
    return box;
}

QDoubleSpinBox *numberBox(QWidget *parent, double min, double max, double step, int decimals) {
    auto *box = new QDoubleSpinBox(parent);
    box->setRange(min, max);
    box->setSingleStep(step);
    box->setDecimals(decimals);
    box->setKeyboardTracking(false);
    return box;
}

QColor colourOf(const std::string &text) {
    QColor c(QString::fromStdString(text.rfind('#', 0) == 0 ? text : "#" + text));
    return c.isValid() ? c : QColor(Qt::black);
}

void paintSwatch(QPushButton *button, const std::string &text) {
    QPixmap swatch(24, 16);
    swatch.fill(colourOf(text));
    button->setIcon(swatch);
    button->setText(QString::fromStdString(text));
}

} // namespace

LookInspector::LookInspector(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("look"));
    undo_ = new QUndoStack(this);
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b91c1c"));
    auto *undoButton = new QPushButton(QStringLiteral("Undo"), this);
    auto *redoButton = new QPushButton(QStringLiteral("Redo"), this);
    undoButton->setShortcut(QKeySequence::Undo);
    redoButton->setShortcut(QKeySequence::Redo);
    connect(undoButton, &QPushButton::clicked, this, &LookInspector::undo);
    connect(redoButton, &QPushButton::clicked, this, &LookInspector::redo);
    connect(undo_, &QUndoStack::canUndoChanged, undoButton, &QPushButton::setEnabled);
    connect(undo_, &QUndoStack::canRedoChanged, redoButton, &QPushButton::setEnabled);
    undoButton->setEnabled(false);
    redoButton->setEnabled(false);

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    controls_ = new QWidget(scroll);
    scroll->setWidget(controls_);
    buildControls();

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(undoButton);
    buttons->addWidget(redoButton);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(problem_);
    layout->addWidget(scroll, 1);
    close();
}

LookInspector::~LookInspector() = default;

void LookInspector::buildControls() {
    auto *layout = new QVBoxLayout(controls_);
    // Each control writes its field through `set` and reads it back through a loader.
    auto change = [this](const std::function<void(Scene &)> &edit) {
        if (loading_ || !folder_) return;
        Scene after = edits_.scene;
        edit(after);
        changeScene(after);
    };
    auto addNumber = [&](QFormLayout *form, const char *label, double min, double max, double step,
                         int decimals, double Scene::*field) {
        auto *box = numberBox(controls_, min, max, step, decimals);
        form->addRow(QString::fromUtf8(label), box);
        connect(box, &QDoubleSpinBox::valueChanged, this,
                [change, field](double v) { change([&](Scene &s) { s.*field = v; }); });
        loaders_.push_back([box, field](const Scene &s) { box->setValue(s.*field); });
    };
    auto addCheck = [&](QFormLayout *form, const char *label, bool Scene::*field) {
        auto *box = new QCheckBox(QString::fromUtf8(label), controls_);
        form->addRow(QString(), box);
        connect(box, &QCheckBox::toggled, this,
                [change, field](bool v) { change([&](Scene &s) { s.*field = v; }); });
        loaders_.push_back([box, field](const Scene &s) { box->setChecked(s.*field); });
    };
    auto addColour = [&](QFormLayout *form, const char *label, std::string Scene::*field) {
        auto *button = new QPushButton(controls_);
        form->addRow(QString::fromUtf8(label), button);
        connect(button, &QPushButton::clicked, this, [this, change, field] {
            const QColor picked = QColorDialog::getColor(colourOf(edits_.scene.*field), this);
            if (!picked.isValid()) return;
            const std::string text = picked.name(QColor::HexRgb).toUpper().toStdString();
            change([&](Scene &s) { s.*field = text; });
        });
        loaders_.push_back([button, field](const Scene &s) { paintSwatch(button, s.*field); });
    };
    auto addEnum = [&](QFormLayout *form, const char *label, QComboBox *box, auto Scene::*field) {
        using Enum = std::remove_reference_t<decltype(std::declval<Scene &>().*field)>;
        form->addRow(QString::fromUtf8(label), box);
        connect(box, &QComboBox::currentIndexChanged, this, [box, change, field] {
            const Enum v = static_cast<Enum>(box->currentData().toInt());
            change([&](Scene &s) { s.*field = v; });
        });
        loaders_.push_back(
            [box, field](const Scene &s) { box->setCurrentIndex(box->findData(int(s.*field))); });
    };
    auto group = [&](const char *title) {
        auto *g = new QGroupBox(QString::fromUtf8(title), controls_);
        layout->addWidget(g);
        return new QFormLayout(g);
    };

    using BK = Edits::BackgroundKind;
    QFormLayout *background = group("Background");
    addEnum(background, "Kind",
            enumBox<BK>(controls_, {{BK::wallpaper, "Wallpaper"},
                                    {BK::gradient, "Gradient"},
                                    {BK::solid, "Solid colour"}}),
            &Scene::backgroundKind);
    auto *wallpapers = new QListWidget(controls_);
    wallpapers->setObjectName(QStringLiteral("wallpapers"));
    wallpapers->setViewMode(QListView::IconMode);
    wallpapers->setIconSize(QSize(96, 54));
    wallpapers->setFlow(QListView::LeftToRight);
    wallpapers->setWrapping(true);
    wallpapers->setResizeMode(QListView::Adjust);
    wallpapers->setMinimumHeight(140);
    for (const Edits::WallpaperPreset &preset : Edits::wallpaperPresets()) {
        auto *item = new QListWidgetItem(QString::fromStdString(preset.id), wallpapers);
        item->setData(Qt::UserRole, QString::fromStdString(preset.id));
        if (auto picture = WallpaperCache::bitmap(preset.id, Size{96, 54}))
            item->setIcon(QPixmap::fromImage(FrameRenderer::toImage(picture->bitmap())));
    }
    background->addRow(QStringLiteral("Wallpaper"), wallpapers);
    connect(wallpapers, &QListWidget::currentItemChanged, this, [change](QListWidgetItem *item) {
        if (!item) return;
        const std::string id = item->data(Qt::UserRole).toString().toStdString();
        change([&](Scene &s) {
            s.wallpaperId = id;
            s.backgroundKind = BK::wallpaper;
        });
    });
    loaders_.push_back([wallpapers](const Scene &s) {
        const std::string &id =
            s.wallpaperId.empty() ? Edits::wallpaperPresets().front().id : s.wallpaperId;
        for (int row = 0; row < wallpapers->count(); ++row)
            if (wallpapers->item(row)->data(Qt::UserRole).toString().toStdString() == id)
                wallpapers->setCurrentRow(row);
    });
    addColour(background, "Gradient from", &Scene::gradientFrom);
    addColour(background, "Gradient to", &Scene::gradientTo);
    addNumber(background, "Gradient angle", 0, 360, 5, 0, &Scene::gradientAngle);
    addColour(background, "Solid colour", &Scene::backgroundColor);

    using CS = Edits::ChromeStyle;
    QFormLayout *frame = group("Window");
    addNumber(frame, "Padding (%)", 0, 40, 1, 1, &Scene::paddingPercent);
    addNumber(frame, "Corner radius", 0, 200, 1, 0, &Scene::frameRadius);
    addNumber(frame, "Shadow blur", 0, 200, 1, 0, &Scene::shadowBlur);
    addNumber(frame, "Shadow offset", 0, 200, 1, 0, &Scene::shadowOffset);
    addNumber(frame, "Shadow strength", 0, 1, 0.05, 2, &Scene::shadowStrength);
    addEnum(frame, "Chrome",
            enumBox<CS>(controls_,
                        {{CS::none, "None"}, {CS::minimal, "Minimal"}, {CS::browser, "Browser"}}),
            &Scene::chromeStyle);
    addCheck(frame, "Border", &Scene::showBorder);

    using Shape = Edits::CursorShape;
    using Click = Edits::ClickEffect;
    QFormLayout *cursor = group("Cursor");
    addEnum(cursor, "Shape",
            enumBox<Shape>(controls_, {{Shape::arrow, "Arrow"},
                                       {Shape::heart, "Heart"},
                                       {Shape::dot, "Dot"},
                                       {Shape::ring, "Ring"},
                                       {Shape::crosshair, "Crosshair"}}),
            &Scene::cursorShape);
    addNumber(cursor, "Size", 0, 5, 0.1, 1, &Scene::cursorSize);
    addNumber(cursor, "Smoothing", 0, 1, 0.05, 2, &Scene::cursorSmoothing);
    addCheck(cursor, "Filled", &Scene::cursorFilled);
    addColour(cursor, "Fill", &Scene::cursorFill);
    addCheck(cursor, "Outline", &Scene::cursorOutline);
    addColour(cursor, "Outline colour", &Scene::cursorOutlineColor);
    addCheck(cursor, "Shadow", &Scene::cursorShadow);
    addEnum(cursor, "Click effect",
            enumBox<Click>(controls_, {{Click::none, "None"},
                                       {Click::ring, "Ring"},
                                       {Click::ripple, "Ripple"},
                                       {Click::shockwave, "Shockwave"}}),
            &Scene::clickEffect);

    using BP = Edits::BadgePosition;
    auto positions = [&] {
        return enumBox<BP>(controls_,
                           {{BP::left, "Left"}, {BP::center, "Centre"}, {BP::right, "Right"}});
    };
    QFormLayout *badges = group("Keystrokes and captions");
    addCheck(badges, "Show keystrokes", &Scene::showKeystrokes);
    addEnum(badges, "Keystroke position", positions(), &Scene::keystrokePosition);
    addNumber(badges, "Keystroke scale", 0.25, 4, 0.25, 2, &Scene::keystrokeScale);
    addCheck(badges, "Show captions", &Scene::showCaptions);
    addEnum(badges, "Caption position", positions(), &Scene::captionPosition);
    addNumber(badges, "Caption scale", 0.25, 4, 0.25, 2, &Scene::captionScale);

    using WP = Edits::WebcamPosition;
    using WS = Edits::WebcamShape;
    QFormLayout *webcam = group("Webcam");
    addEnum(webcam, "Position",
            enumBox<WP>(controls_, {{WP::cornerTL, "Top left"},
                                    {WP::cornerTR, "Top right"},
                                    {WP::cornerBL, "Bottom left"},
                                    {WP::cornerBR, "Bottom right"},
                                    {WP::sideLeft, "Beside, left"},
                                    {WP::sideRight, "Beside, right"},
                                    {WP::full, "Full"},
                                    {WP::hidden, "Hidden"}}),
            &Scene::webcamPosition);
    addEnum(webcam, "Shape",
            enumBox<WS>(controls_, {{WS::circle, "Circle"},
                                    {WS::roundedSquare, "Rounded square"},
                                    {WS::square, "Square"},
                                    {WS::triangle, "Triangle"}}),
            &Scene::webcamShape);
    addNumber(webcam, "Size", 0.05, 1, 0.01, 2, &Scene::webcamSize);
    addCheck(webcam, "Remove background", &Scene::webcamRemoveBackground);
    layout->addStretch(1);
}

Status LookInspector::open(const std::filesystem::path &recordingFolder) {
    close();
    auto read = Edits::readFromRecording(recordingFolder);
    if (!read) {
        problem_->setText(QString::fromStdString(read.error().message) +
                          QStringLiteral("\nThe look cannot be changed until the file is fixed "
                                         "or removed."));
        return read.error();
    }
    edits_ = read->has_value() ? std::move(**read) : Edits::defaults();
    folder_ = recordingFolder;
    problem_->clear();
    controls_->setEnabled(true);
    load();
    return Ok{};
}

void LookInspector::close() {
    folder_.reset();
    undo_->clear();
    controls_->setEnabled(false);
}

void LookInspector::changeScene(const Scene &scene) {
    if (!folder_ || scene == edits_.scene) return;
    undo_->push(new SceneChange(*this, edits_.scene, scene));
}

void LookInspector::undo() {
    undo_->undo();
}
void LookInspector::redo() {
    undo_->redo();
}
bool LookInspector::canUndo() const {
    return undo_->canUndo();
}
bool LookInspector::canRedo() const {
    return undo_->canRedo();
}
QString LookInspector::problem() const {
    return problem_->text();
}

void LookInspector::apply(const Scene &scene) {
    if (!folder_) return;
    edits_.scene = scene;
    if (auto saved = edits_.write(*folder_ / Edits::fileName); !saved)
        problem_->setText(QString::fromStdString(saved.error().message));
    else
        problem_->clear();
    load();
    emit editsChanged(edits_);
}

void LookInspector::load() {
    loading_ = true;
    for (const auto &loader : loaders_) loader(edits_.scene);
    loading_ = false;
}

} // namespace qv::ui
