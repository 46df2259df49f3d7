#include "ui/onboarding/OnboardingWindowController.h"

#include "ui/kit/FrameMemory.h"
#include "ui/kit/Parts.h"
#include "ui/onboarding/OnboardingView.h"

#include <QPointer>

OnboardingWindowController::OnboardingWindowController(AppState& app, QObject* parent)
    : QObject(parent), win(std::make_unique<KeptWindow>())
{
    win->setFixedFrame(QStringLiteral("onboardingWindow"), QStringLiteral("tarnel · 开始设置"), QSize(width, height));
    QPointer<QWidget> window = win.get();
    content = new OnboardingView(app, [window] {
        if (window)
            window->hide();
    }, win.get());
    Parts::fill(*win, content);
    frame = new FrameMemory(*win, QStringLiteral("TarnelOnboarding"));
    frame->place();
}

void OnboardingWindowController::show() { frame->present(); }

OnboardingWindowController::~OnboardingWindowController() = default;
