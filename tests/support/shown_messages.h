// What the windows told the operator through the app's message module, for the GUI tests.
#pragma once

#include <QString>
#include <QStringList>

#include "messages/operator_messages.h"

// Every box shown since the last call, oldest first, as "title|text", with "|parent" when it
// had one; an about box starts with "about:", a question with "question:", the file dialog
// with "file:".
inline QStringList shownTexts() {
    using corvane::OperatorMessages;
    QStringList texts;
    for (const OperatorMessages::Shown& shown : OperatorMessages::takeShown()) {
        const QString kind = shown.kind == OperatorMessages::Kind::About      ? "about:"
                             : shown.kind == OperatorMessages::Kind::OpenFile ? "file:"
                             : shown.kind == OperatorMessages::Kind::Question ? "question:"
                                                                              : "";
        texts << kind + shown.title + QLatin1Char('|') + shown.text +
                     (shown.has_parent ? QStringLiteral("|parent") : QString());
    }
    return texts;
}

// An information box titled "提示", the title of every outcome message.
inline QString notice(const QString& text) {
    return QStringLiteral("提示|") + text;
}
