#pragma once

#include <QObject>
#include <QWidget>
#include <memory>

class AppState;
class FeedbackModel;
class FeedbackView;

// The feedback window: fixed size; closing only hides it, so an unsent report stays.
class FeedbackWindow : public QWidget {
    Q_OBJECT
public:
    explicit FeedbackWindow(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void closeEvent(QCloseEvent* event) override;
};

// Owns the feedback window and its form's model for the life of the process. Created once at launch.
class FeedbackWindowController : public QObject {
    Q_OBJECT
public:
    explicit FeedbackWindowController(AppState& app, QObject* parent = nullptr);
    ~FeedbackWindowController() override;

    // Resets the form, centres the window when it is hidden, brings it to the front and activates it.
    void show();
    void hide();

    QWidget* window() const { return win.get(); }
    FeedbackView* view() const { return content; }
    FeedbackModel& model() { return *form; }

private:
    void centre();

    std::unique_ptr<FeedbackModel> form;
    std::unique_ptr<FeedbackWindow> win;
    FeedbackView* content;
};
