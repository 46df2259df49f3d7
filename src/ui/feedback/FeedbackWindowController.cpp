#include "ui/feedback/FeedbackWindowController.h"

#include "account/FeedbackModel.h"
#include "state/Paths.h"
#include "ui/feedback/FeedbackView.h"
#include "ui/kit/FrameMemory.h"
#include "ui/kit/Parts.h"

FeedbackWindowController::FeedbackWindowController(AppState& app, QObject* parent)
    : QObject(parent), form(std::make_unique<FeedbackModel>(Paths::logsDirectory())),
      win(std::make_unique<KeptWindow>())
{
    win->setFixedFrame(QStringLiteral("feedbackWindow"), QStringLiteral("反馈问题"), QSize(540, 600));
    content = new FeedbackView(app, *form, win.get());
    Parts::fill(*win, content);
    frame = new FrameMemory(*win, QStringLiteral("TarnelFeedback"));
    frame->place();
}

FeedbackWindowController::~FeedbackWindowController() = default;

void FeedbackWindowController::show()
{
    form->reset();
    frame->present();
    content->appear();
}
