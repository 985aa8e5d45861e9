#pragma once

#include "exchange/ExchangeTestSupport.h"
#include "platform/core/Registry.h"
#include "records/tables/ClaimDatabase.h"
#include "support/TestDatabase.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace tevrak::test {

inline const QString transferGarage = QStringLiteral("อู่สมชาย");
inline const QString transferBranch = QStringLiteral("สาขาหาดใหญ่");

// The workstation of a Transfer test: a clean outbox and LOAD, fresh tables
// opened as at start-up, and the server's address pinned by pointAt() for
// this test alone.
class TransferFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        cleanWorkstation();
        freshTestDatabase();
        database = std::make_unique<records::ClaimDatabase>();
        database->openForStartUp();
    }
    void TearDown() override
    {
        ::unsetenv("TEVRAK_FTP_HOST");
        ::unsetenv("TEVRAK_FTP_PORT");
    }

    static void pointAt(int port)
    {
        ::setenv("TEVRAK_FTP_HOST", "127.0.0.1", 1);
        ::setenv("TEVRAK_FTP_PORT", std::to_string(port).c_str(), 1);
    }
    static std::filesystem::path garageFolder(const std::string& root)
    {
        return std::filesystem::path(root) / "Claim" / cp874(transferGarage);
    }
    static std::filesystem::path branchFolder(const std::string& root)
    {
        return std::filesystem::path(root) / "Claim" / "Download3" / cp874(transferBranch);
    }

    std::unique_ptr<records::ClaimDatabase> database;
};

// A copy of a server file where the tools can open it (the server's folder
// names are Thai code-page bytes, which a UTF-8 path cannot carry).
inline QString forTools(const std::filesystem::path& serverFile)
{
    const std::filesystem::path copy = std::filesystem::path(temporaryBase()) / "for-tools" / serverFile.filename();
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(serverFile, copy, std::filesystem::copy_options::overwrite_existing);
    return QString::fromStdString(copy.string());
}

struct ToolRun {
    int exitCode = -1;
    QString output; // standard output and error together
};

// Runs an independent tool (unzip, zipinfo, sqlite3, /usr/bin/python3) and waits for it.
inline ToolRun runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

// Python's zipfile on an archive: "name<TAB>size<TAB>crc-ok" per member, after testzip().
inline ToolRun pythonZipMembers(const QString& archive)
{
    return runTool(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-c"),
                    QStringLiteral("import sys, zipfile\n"
                                   "z = zipfile.ZipFile(sys.argv[1])\n"
                                   "bad = z.testzip()\n"
                                   "assert bad is None, bad\n"
                                   "for i in z.infolist():\n"
                                   "    data = z.read(i)\n"
                                   "    print('%s\\t%d\\t%s' % (i.filename, len(data), "
                                   "'deflated' if i.compress_type == zipfile.ZIP_DEFLATED else 'stored'))\n"),
                    archive});
}

// Every member of an archive as Python's zipfile reads it, in directory order:
// "name<TAB>sha256 of the contents" per line, after testzip().
inline QStringList pythonZipContents(const QString& archive)
{
    const ToolRun run = runTool(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import hashlib, sys, zipfile\n"
                        "z = zipfile.ZipFile(sys.argv[1])\n"
                        "bad = z.testzip()\n"
                        "assert bad is None, bad\n"
                        "for i in z.infolist():\n"
                        "    print('%s\\t%s' % (i.filename, hashlib.sha256(z.read(i)).hexdigest()))\n"),
         archive});
    if (run.exitCode != 0)
        return {QStringLiteral("python failed: ") + run.output};
    return run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The line pythonZipContents prints for a member of these contents.
inline QString memberLine(const QString& name, const QByteArray& contents)
{
    return name + QLatin1Char('\t') +
           QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Sha256).toHex());
}

// The certificates of the encrypted tests (tests/ftp/make-test-certificates:
// ca.pem, server.pem/.key, unknown-authority.pem/.key, ...), made at run time
// in the test process's folder, so that no key is ever kept in the repository.
inline QString testCertificates()
{
    const QString folder = QString::fromStdString(temporaryBase()) + "/certificates";
    if (!QFile::exists(folder + "/ca.pem")) {
        QDir().mkpath(folder);
        const ToolRun made =
            runTool("bash", {QStringLiteral(TEVRAK_SOURCE_DIR) + "/tests/ftp/make-test-certificates", folder});
        EXPECT_EQ(made.exitCode, 0) << made.output.toStdString();
    }
    return folder;
}

// The workstation's Transfers go over TLS only, trusting the test authority.
inline void requireEncryptionTrustingTheTestAuthority()
{
    ::setenv("TEVRAK_FTP_ENCRYPTION", "Required", 1);
    QSettings settings(platform::registry::registryFile(), QSettings::IniFormat);
    settings.setValue("Server/CertificateFile", testCertificates() + "/ca.pem");
}

// The stand-in's options for TLS required with the test authority's server certificate.
inline std::vector<std::string> encryptedServerOptions()
{
    const QString certificates = testCertificates();
    return {"--tls", (certificates + "/server.pem").toStdString(), (certificates + "/server.key").toStdString(),
            "--tls-required"};
}

} // namespace tevrak::test
