#pragma once

#include "account/Updater.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class SymbolNote;

// The update prompt's content: the new version, what it changes, how the update is done, the failure of
// the last step, and "稍后" / "立即更新". Everything is read from the updater and rebuilt when it changes;
// both buttons only call it.
class UpdatePromptView : public QWidget {
    Q_OBJECT
public:
    explicit UpdatePromptView(Updater& updater, QWidget* parent = nullptr);

    // Texts and rows of a phase, without widgets.
    static QString title(const Updater::Phase& phase);
    static bool showsNotes(const Updater::Phase& phase);
    static bool notesScroll(const Updater::Phase& phase); // 8 notes or more
    static int notesScrollHeight() { return 180; }

    void refresh();

private:
    void rebuildNotes(const QStringList& notes, bool scroll);

    Updater& updater;
    QLabel* titleLabel;
    QWidget* notesBox;
    QVBoxLayout* notesHolder;
    QStringList shownNotes;
    bool shownScroll = false;
    SymbolNote* failure;
    QPushButton* laterButton;
    QPushButton* installButton;
};
