#pragma once

#include <QDialog>
#include <QObject>
#include <memory>

class FrameMemory;
class Updater;
class UpdatePromptView;

// The prompt window: closing it (or Escape) counts as "稍后" and only hides it.
class UpdateWindow : public QDialog {
    Q_OBJECT
public:
    explicit UpdateWindow(Updater& updater, QWidget* parent = nullptr) : QDialog(parent), updater(updater) {}
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Updater& updater;
};

// Owns the update prompt window for the life of the process; shows it while the updater asks for it. The
// window is built when it is first wanted.
class UpdateWindowController : public QObject {
    Q_OBJECT
public:
    explicit UpdateWindowController(Updater& updater, QObject* parent = nullptr);
    ~UpdateWindowController() override;

    QWidget* window() { return built().get(); }
    UpdatePromptView* view()
    {
        built();
        return content;
    }

private:
    void follow();
    const std::unique_ptr<UpdateWindow>& built();

    Updater& updater;
    std::unique_ptr<UpdateWindow> win;
    UpdatePromptView* content = nullptr;
    FrameMemory* frame = nullptr;
    bool shown = false;
};
