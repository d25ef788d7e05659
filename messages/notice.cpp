#include "messages/notice.h"

#include <QWidget>

#include "messages/operator_messages.h"

void showNotice(const QString& text) {
    corvane::OperatorMessages::information(nullptr, QStringLiteral("提示"), text);
}

void finishAudioWrite(QWidget* window, bool accepted, const QString& failure_text) {
    if (!accepted) {
        showNotice(failure_text);
        return;
    }
    showNotice(QStringLiteral("音频设置成功"));
    window->close();
}
