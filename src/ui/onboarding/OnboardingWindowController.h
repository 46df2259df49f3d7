#pragma once

#include "ui/kit/KeptWindow.h"

#include <QObject>
#include <memory>

class AppState;
class FrameMemory;
class OnboardingView;

// Owns the onboarding window for the life of the process. Created once at launch; shown at the first
// start and again on demand; only "知道了，开始用" changes the settings.
class OnboardingWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr int width = 640;
    static constexpr int height = 720;

    explicit OnboardingWindowController(AppState& app, QObject* parent = nullptr);
    ~OnboardingWindowController() override;

    // Puts the window where it was last (or centres it) when it is hidden, brings it to the front and
    // activates it.
    void show();
    void hide() { win->hide(); }

    QWidget* window() const { return win.get(); }
    OnboardingView* view() const { return content; }

private:
    std::unique_ptr<KeptWindow> win;
    OnboardingView* content;
    FrameMemory* frame;
};
