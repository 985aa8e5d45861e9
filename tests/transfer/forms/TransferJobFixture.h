#pragma once

// The whole Transfer as the button runs it, in the test process: a fresh
// workstation and database, the forms the job shows, the stand-in server, and
// what the tests read back (outcomes, Send flags, the history).

#include "transfer/forms/TransferRun.h"
#include "exchange/ConnectionRouter.h"
#include "exchange/forms/CopyfU.h"
#include "exchange/ExchangeTestSupport.h"
#include "platform/core/ProgramValues.h"
#include "transfer/forms/TransferForms.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"
#include "records/tables/ClaimDatabase.h"
#include "startup/RegisterF2U.h"
#include "support/QtPrinting.h"
#include "support/RecordingDialogs.h"
#include "support/ScriptedFtpPeer.h"
#include "support/TestDatabase.h"
#include "support/TestPictures.h"
#include "transfer/TransferTestSupport.h"
#include "transfer/forms/ZipfU.h"

#include <QComboBox>
#include <QFile>
#include <QDate>
#include <cstdlib>

namespace tevrak::test {

inline const QString& garage = transferGarage;
inline const QString& branch = transferBranch;

class TransferJobTest : public TransferFixture {
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        values.GarageName = garage;
        forms.Copyf = &copyf;
        forms.Zipf = &zipf;
        forms.RegisterF2 = &branchForm;
        platform::setApplicationTitle(QStringLiteral("Tevrak หาดใหญ่ ADSL"));
    }
    // The stand-in server with the garage's and the branch's folders, as the
    // insurer sets them up.
    int startServer(LocalFtpServer& server, const std::string& root, const std::vector<std::string>& options = {})
    {
        fs::create_directories(garageFolder(root));
        fs::create_directories(branchFolder(root));
        return server.start(root, options);
    }

    // The final messages by their first line ("Transfer failed" has the reason under it).
    QStringList outcomes() const
    {
        QStringList lines;
        for (const QString& text : dialogs.texts())
            lines << text.section(QLatin1Char('\n'), 0, 0);
        return lines;
    }

    void saveReport(const QString& claimno, int seq, const QString& status)
    {
        auto& t = database->TevrakT;
        t.append();
        t.setText("Claimno", claimno);
        t.setInteger("Seq", seq);
        t.setText("Garage", QStringLiteral("อู่สมชาย"));
        t.setText("Brand", "Toyota");
        t.setText("Regno", QStringLiteral("กข 1234"));
        t.setText("Status", status);
        t.setDate("GarageDate", QDate(2026, 12, 1));
        t.setDate("ReportDate", QDate(2026, 12, 8));
        t.setBoolean("Send", false);
        t.post(); // TevrakDate stays blank
    }

    void saveExpense(const QString& claimno, int seq)
    {
        auto& t = database->ExpenseT;
        t.append();
        t.setText("Claimno", claimno);
        t.setInteger("Seq", seq);
        t.setText("Typ", "1");
        t.setDate("SurvDate", QDate(2026, 12, 7));
        t.setText("From1", QStringLiteral("หาดใหญ่"));
        t.setText("To1", QStringLiteral("สงขลา"));
        t.setFloat("Distance1", 30.5);
        t.setFloat("Rate", 3);
        t.setFloat("Total_Dis", 30.5);
        t.setFloat("Distance", 91.5);
        t.setFloat("Survey", 200);
        t.setFloat("Total", 291.5); // Distance2, Home, Ems, Fax ... stay blank
        t.setText("Userid", "somchai");
        t.setBoolean("Send", false);
        t.setDate("Sysdate", QDate(2026, 12, 8));
        t.post();
    }

    // The Send flags of a table, "claimno/seq=flag" in key order.
    QStringList sendFlags(const QString& table)
    {
        records::Query& q = table == "Tevrak" ? database->TevrakQ2 : database->ExpenseQ2;
        q.close();
        q.setSql({"select * from " + table});
        q.open();
        QStringList flags;
        for (q.first(); !q.eof(); q.next())
            flags << QStringLiteral("%1/%2=%3")
                         .arg(q.asText("Claimno"))
                         .arg(q.asInteger("Seq"))
                         .arg(q.asBoolean("Send") ? 1 : 0);
        q.close();
        return flags;
    }


    void runJob(int readTimeout = 5000)
    {
        transfer::TransferRun job(*database, values, forms, &mainWindow);
        job.ExchangeReadTimeout = readTimeout;
        job.run();
        EXPECT_TRUE(mainWindow.isEnabled());
        failure = job.exchangeFailure();
    }

    // The transfer history's events without their time stamps, leaving out the
    // files sent and received.
    static QStringList historyEvents()
    {
        QFile log(local("c:\\LOAD\\transfer.log"));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QStringList events;
        for (const QString& line : QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts))
            if (!line.mid(20).startsWith("sent ") && !line.mid(20).startsWith("received "))
                events << line.mid(20);
        return events;
    }

    ProgramValues values;
    TCopyf copyf;
    TZipf zipf;
    TRegisterF2 branchForm;
    transfer::TransferForms forms;
    QWidget mainWindow;
    RecordingDialogs dialogs;
    QString failure;
};

} // namespace tevrak::test
