#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

namespace corvane {

// The one road by which the program talks to the operator: every message box and the file
// dialog go through here. Tests answer them from a queue instead of a modal box appearing,
// and read back what would have been shown.
class OperatorMessages {
public:
    enum class Kind { Information, About, OpenFile, Question };

    // What a box (or the file dialog) would have shown, kept while tests answer.
    struct Shown {
        Kind kind;
        QString title;  // caption for the file dialog
        QString text;   // empty for the file dialog
        bool has_parent;
    };

    // Modal information box with an OK button ("提示", "错误", "配置失败").
    static QMessageBox::StandardButton information(QWidget* parent, const QString& title,
                                                   const QString& text);
    // Modal question with Yes and No, No the default: true only for Yes. Unattended, the
    // answer is No, the choice that changes nothing.
    static bool question(QWidget* parent, const QString& title, const QString& text);
    // Modal about box (the upgrade failures use the main window as parent).
    static void about(QWidget* parent, const QString& title, const QString& text);
    // The platform's file-open dialog; empty when cancelled.
    static QString openFileName(QWidget* parent = nullptr, const QString& caption = QString(),
                                const QString& dir = QString(), const QString& filter = QString());

    // --- for tests ---
    // Queue the answer for the next box / file dialog. A queued answer stops the box from
    // showing and records it.
    static void queueAnswer(QMessageBox::StandardButton answer);
    static void queueFileName(const QString& path);
    // When unattended, a box or dialog with nothing queued is recorded and answered with OK /
    // an empty path instead of blocking; meant for tests that must never hang on a box.
    static void setUnattended(bool on);
    // Everything recorded so far, oldest first; the record is emptied.
    static QList<Shown> takeShown();
    // Answers queued and not yet used (boxes plus file names).
    static int pendingAnswers();
    // Forget queued answers, records and the unattended switch.
    static void reset();
};

}  // namespace corvane
