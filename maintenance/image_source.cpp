#include "maintenance/image_source.h"

namespace corvane::maintenance {

FileImageSource::~FileImageSource() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

FileImageSource::Opened FileImageSource::open(const QString& path) {
    info_.setFileName(path);
    if (!info_.open(QIODevice::ReadOnly)) {
        return Opened::Missing;
    }
#ifdef _WIN32
    file_ = _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), L"rb");
#else
    file_ = std::fopen(QFile::encodeName(path).constData(), "rb");
#endif
    return file_ != nullptr ? Opened::Ok : Opened::Unreadable;
}

qint64 FileImageSource::size() {
    return info_.size();
}

qint64 FileImageSource::read(char* into, qint64 max) {
    if (file_ == nullptr) {
        return -1;
    }
    const std::size_t n = std::fread(into, 1, std::size_t(max), file_);
    // A failed read keeps nothing of the piece: what came before it is not the image.
    if (std::ferror(file_)) {
        return -1;
    }
    return qint64(n);
}

}  // namespace corvane::maintenance
