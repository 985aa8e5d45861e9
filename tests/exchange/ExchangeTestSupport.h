#pragma once

// Shared by the exchange and transfer tests: a clean workstation, the branch
// file, the outbox and the server's folders as the stand-in server keeps them.

#include "platform/core/Cp874.h"
#include "platform/core/DriveC.h"
#include "support/LocalFtpServer.h"
#include "support/TestEnvironment.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace tevrak::test {

namespace fs = std::filesystem;

inline std::string cp874(const QString& text)
{
    return platform::cp874::encode(text).value().toStdString();
}

inline QString local(const QString& windowsPath)
{
    return platform::localPath(windowsPath);
}

// Today's download folder, c:\LOAD\dd-mm-yy.
inline QString dayFolder()
{
    return local("c:\\LOAD\\" + QDate::currentDate().toString("dd-MM-yy"));
}

inline QString outboxFile(const QString& name)
{
    return local(platform::paths::outbox + "\\" + name);
}

// Empties the outbox, c:\LOAD and the trash, so that cases can run in one process.
inline void cleanWorkstation()
{
    // An exchange leaves the process in c:\LOAD\ALL, which is about to go.
    QDir::setCurrent(QString::fromStdString(temporaryBase()));
    QDir(local(platform::paths::outbox)).removeRecursively();
    QDir(local(platform::paths::load)).removeRecursively();
    QDir().mkpath(local(platform::paths::outbox));
    QDir(QString::fromStdString(temporaryBase()) + "/data/Trash").removeRecursively();
}

inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The branch file as the branch form writes it: the Thai code page, no line end.
inline void writeBranchFile(const QString& branch)
{
    writeBytes(local(platform::paths::branchFile), platform::cp874::encode(branch).value());
}

inline void writeServerFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readServerFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The bare names in a server folder, sorted.
inline std::vector<std::string> serverNames(const fs::path& folder)
{
    std::vector<std::string> names;
    if (fs::is_directory(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh server root for one test, below the test process's temporary folder.
inline std::string freshServerRoot()
{
    static int count = 0;
    const fs::path root = fs::path(temporaryBase()) / ("server-" + std::to_string(++count));
    fs::remove_all(root);
    fs::create_directories(root);
    return root.string();
}

} // namespace tevrak::test
