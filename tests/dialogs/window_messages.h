// What the configuration windows told the operator, and what a double-click hands the network
// window, for the window tests.
#pragma once

#include <QString>
#include <QStringList>

#include "json/json_document.h"
#include "operator_messages.h"

// Every message shown since the last call, as "title|text" ("|parent" added when it had one).
inline QStringList shownTexts() {
    QStringList texts;
    for (const corvane::OperatorMessages::Shown& shown : corvane::OperatorMessages::takeShown()) {
        texts << shown.title + QLatin1Char('|') + shown.text +
                     (shown.has_parent ? QStringLiteral("|parent") : QString());
    }
    return texts;
}

// A message as shownTexts() lists the windows' outcome boxes.
inline QString notice(const QString& text) {
    return QStringLiteral("提示|") + text;
}

// The document set_network_info takes: a row's address, mask, gateway and MAC.
inline neb::CJsonObject networkInfo(const QString& ip, const QString& mask = "255.255.255.0",
                                    const QString& gateway = "10.0.0.1",
                                    const QString& mac = "02:43:56:00:00:0A") {
    neb::CJsonObject info;
    info.PutString("setIp", ip.toStdString());
    info.PutString("setMask", mask.toStdString());
    info.PutString("setGateway", gateway.toStdString());
    info.PutString("setMac", mac.toStdString());
    return info;
}
