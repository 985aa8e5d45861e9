#pragma once

// An opened picture file: its descriptor, size, and the messages that name it.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace tevrak::imaging {

class PictureFile {
public:
    // Opens the file for reading; throws Error (missing, unreadable, a folder, zero bytes).
    explicit PictureFile(const QString& localFile);
    ~PictureFile();
    PictureFile(const PictureFile&) = delete;
    PictureFile& operator=(const PictureFile&) = delete;

    int fd() const { return fd_; }
    qint64 size() const { return size_; }
    const QString& path() const { return path_; }

    // Reads up to `length` bytes at the current position; 0 at the end of the file. Throws on a read error.
    size_t read(void* buffer, size_t length);
    // Moves the read position forward by `count` bytes (past the end is allowed; reads then give 0).
    void skip(qint64 count);
    // Reads up to `length` bytes at `offset` without moving the read position; returns the count read.
    size_t readAt(void* buffer, size_t length, qint64 offset) const;

    // "The picture NAME cannot be shown: REASON."
    QString message(const QString& reason) const;
    [[noreturn]] void fail(const QString& reason) const;

    // What the first bytes of the file look like, for a misnamed file ("a GIF picture", "text", ...);
    // empty when they look like nothing known.
    QString sniffKind() const;

private:
    QString path_;
    int fd_ = -1;
    qint64 size_ = 0;
};

} // namespace tevrak::imaging
