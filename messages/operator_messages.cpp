#include "messages/operator_messages.h"

#include <QFileDialog>
#include <QMutex>
#include <QMutexLocker>
#include <QQueue>

namespace corvane {

namespace {

// Boxes are shown on the GUI thread only, but a test may queue from elsewhere; one lock
// keeps the queues and the record consistent.
struct TestHooks {
    QMutex mutex;
    QQueue<QMessageBox::StandardButton> answers;
    QQueue<QString> file_names;
    QList<OperatorMessages::Shown> shown;
    bool unattended = false;
};

TestHooks& hooks() {
    static TestHooks instance;
    return instance;
}

// Takes the queued box answer, if a test gave one (or unattended mode supplies OK).
bool takeAnswer(OperatorMessages::Kind kind, QWidget* parent, const QString& title,
                const QString& text, QMessageBox::StandardButton* answer) {
    TestHooks& h = hooks();
    QMutexLocker lock(&h.mutex);
    if (h.answers.isEmpty() && !h.unattended) {
        return false;
    }
    *answer = h.answers.isEmpty() ? QMessageBox::Ok : h.answers.dequeue();
    h.shown.append({kind, title, text, parent != nullptr});
    return true;
}

}  // namespace

QMessageBox::StandardButton OperatorMessages::information(QWidget* parent, const QString& title,
                                                          const QString& text) {
    QMessageBox::StandardButton answer;
    if (takeAnswer(Kind::Information, parent, title, text, &answer)) {
        return answer;
    }
    return QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

bool OperatorMessages::question(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::StandardButton answer;
    if (!takeAnswer(Kind::Question, parent, title, text, &answer)) {
        answer = QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                       QMessageBox::No);
    }
    return answer == QMessageBox::Yes;
}

void OperatorMessages::about(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::StandardButton answer;
    if (takeAnswer(Kind::About, parent, title, text, &answer)) {
        return;
    }
    QMessageBox::about(parent, title, text);
}

QString OperatorMessages::openFileName(QWidget* parent, const QString& caption, const QString& dir,
                                       const QString& filter) {
    {
        TestHooks& h = hooks();
        QMutexLocker lock(&h.mutex);
        if (!h.file_names.isEmpty() || h.unattended) {
            h.shown.append({Kind::OpenFile, caption, QString(), parent != nullptr});
            return h.file_names.isEmpty() ? QString() : h.file_names.dequeue();
        }
    }
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

void OperatorMessages::queueAnswer(QMessageBox::StandardButton answer) {
    TestHooks& h = hooks();
    QMutexLocker lock(&h.mutex);
    h.answers.enqueue(answer);
}

void OperatorMessages::queueFileName(const QString& path) {
    TestHooks& h = hooks();
    QMutexLocker lock(&h.mutex);
    h.file_names.enqueue(path);
}

void OperatorMessages::setUnattended(bool on) {
    TestHooks& h = hooks();
    QMutexLocker lock(&h.mutex);
    h.unattended = on;
}

QList<OperatorMessages::Shown> OperatorMessages::takeShown() {
    TestHooks& h = hooks();
    QMutexLocker lock(&h.mutex);
    QList<Shown> result;
    result.swap(h.shown);
    return result;
}

int OperatorMessages::pendingAnswers() {
    TestHooks& h = hooks();
    QMutexLocker lock(&h.mutex);
    return h.answers.size() + h.file_names.size();
}

void OperatorMessages::reset() {
    TestHooks& h = hooks();
    QMutexLocker lock(&h.mutex);
    h.answers.clear();
    h.file_names.clear();
    h.shown.clear();
    h.unattended = false;
}

}  // namespace corvane
