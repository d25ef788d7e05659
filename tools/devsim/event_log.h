// The simulator's record of everything it received: one JSON object per line, flushed at
// once, so a test can read the file while the simulator runs.
#pragma once

#include <QFile>
#include <QJsonObject>
#include <QString>

namespace devsim {

class EventLog {
public:
    // An empty path keeps no log.
    bool open(const QString& path, QString* error);

    // Adds "time" (UTC, ISO 8601 with milliseconds) and writes one line.
    void write(QJsonObject record);

    bool isOpen() const { return file_.isOpen(); }

private:
    QFile file_;
};

}  // namespace devsim
