#pragma once

#include "ftp/FtpLink.h"

#include <QSet>
#include <QString>
#include <optional>
#include <string>

namespace tevrak::exchange {

// Brings the files of the server's current folder down into a day folder.
// A server file is removed only once a data connection delivered it whole and
// the local copy and its folder are on disk.
class BranchDownload {
public:
    // dayFolder: the local folder (a file-system path) the files land in.
    BranchDownload(TFtpLink& link, QString dayFolder);

    // The local name `listedName` would be filed under in this run, or nothing
    // when it must stay on the server: a name no file can carry here, or one
    // whose local name (without regard to case) an earlier name of this run
    // took (it comes down with the next Transfer).
    std::optional<QString> claimLocalName(const std::string& listedName);

    // Fetches one listed name into the day folder under localName (or, when
    // the folder holds a different file of that name, the first free
    // "name (2).ext") and removes it from the server: the name it got.
    // Nothing, with nothing done, when the name is a folder on the server
    // (the server refuses to send it but lets us change into it). Any other
    // failure raises, and the server keeps the file.
    std::optional<QString> fetch(const std::string& listedName, const QString& localName);

    // The hidden name a download takes until it is complete.
    static constexpr const char* PartialName = ".tevrak-download.part";

private:
    bool isFolder(const std::string& listedName);

    TFtpLink& m_link;
    QString m_dayFolder;
    QSet<QString> m_taken;
};

} // namespace tevrak::exchange
