#include "event_log.h"

#include <QDateTime>
#include <QJsonDocument>

namespace devsim {

bool EventLog::open(const QString& path, QString* error) {
    if (path.isEmpty())
        return true;
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = QStringLiteral("cannot write log %1: %2").arg(path, file_.errorString());
        return false;
    }
    return true;
}

void EventLog::write(QJsonObject record) {
    if (!file_.isOpen())
        return;
    record.insert(QStringLiteral("time"),
                  QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    line.append('\n');
    // Unbuffered: one write per record, so readers never see half a line from us.
    file_.write(line);
}

}  // namespace devsim
