// Where the bytes of a firmware image come from while it is streamed: a file, or anything
// else that yields bytes in order (a generator in tests, a pipe in a terminal front end).
#pragma once

#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace corvane::maintenance {

class ImageSource {
public:
    virtual ~ImageSource() = default;
    // The image's size in bytes as it stands now; progress is measured against it.
    virtual qint64 size() = 0;
    // Reads up to `max` bytes into `into`: returns their count, 0 at the end of the image,
    // -1 when reading failed.
    virtual qint64 read(char* into, qint64 max) = 0;
};

// An image file. The Qt file object answers the size; the bytes are read with the platform's
// binary file functions, one piece at a time, so the image is never held whole.
class FileImageSource : public ImageSource {
public:
    enum class Opened {
        Ok,
        Missing,     // the Qt file object cannot open the path
        Unreadable,  // the binary open for reading fails
    };

    FileImageSource() = default;
    ~FileImageSource() override;
    FileImageSource(const FileImageSource&) = delete;
    FileImageSource& operator=(const FileImageSource&) = delete;

    Opened open(const QString& path);
    qint64 size() override;
    qint64 read(char* into, qint64 max) override;

private:
    QFile info_;
    std::FILE* file_ = nullptr;
};

}  // namespace corvane::maintenance
