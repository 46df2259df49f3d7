#pragma once

#include "ui/kit/KeptWindow.h"

#include <QObject>
#include <memory>

class AppState;
class FeedbackModel;
class FrameMemory;
class FeedbackView;

// Owns the feedback window and its form's model for the life of the process. Created once at launch;
// closing only hides it, so an unsent report stays.
class FeedbackWindowController : public QObject {
    Q_OBJECT
public:
    explicit FeedbackWindowController(AppState& app, QObject* parent = nullptr);
    ~FeedbackWindowController() override;

    // Resets the form, puts the window where it was last (or centres it) when it is hidden, brings it to the front and activates it.
    void show();
    void hide() { win->hide(); }

    QWidget* window() const { return win.get(); }
    FeedbackView* view() const { return content; }
    FeedbackModel& model() { return *form; }

private:
    std::unique_ptr<FeedbackModel> form;
    std::unique_ptr<KeptWindow> win;
    FeedbackView* content;
    FrameMemory* frame;
};
