#include "transfer/forms/TransferRun.h"

#include "exchange/forms/ExchangeWindows.h"
#include "platform/widgets/Dialogs.h"
#include "platform/widgets/InputBlock.h"
#include "platform/core/ProgramValues.h"
#include "transfer/forms/TransferForms.h"
#include "transfer/forms/ZipfU.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QPushButton>

namespace tevrak::transfer {

namespace {

// "Process Zip..." around each packing run, its progress over the whole
// packing, and its Cancel button.
class PackingWindow : public TransferObserver {
public:
    PackingWindow(TransferForms& forms, platform::CancelRequest& cancel) : m_forms(forms)
    {
        m_sinceEvents.start();
        if (!m_forms.Zipf)
            return;
        m_forms.Zipf->CancelButton->setEnabled(true);
        m_cancelButton = QObject::connect(m_forms.Zipf, &TZipf::cancelPressed, [&cancel] { cancel.request(); });
    }
    ~PackingWindow() override { QObject::disconnect(m_cancelButton); }
    PackingWindow(const PackingWindow&) = delete;
    PackingWindow& operator=(const PackingWindow&) = delete;

    void packingStarted() override
    {
        if (!m_forms.Zipf)
            return;
        m_forms.Zipf->show();
        QCoreApplication::processEvents();
    }
    void packingEnded() override
    {
        if (m_forms.Zipf)
            m_forms.Zipf->hide();
    }
    void progress(const exchange::ProgressReport& report) override
    {
        if (m_forms.Zipf)
            m_forms.Zipf->showProgress(report);
    }
    void keepAlive() override
    {
        if (m_sinceEvents.elapsed() < 40)
            return;
        QCoreApplication::processEvents();
        m_sinceEvents.restart();
    }

private:
    TransferForms& m_forms;
    QElapsedTimer m_sinceEvents;
    QMetaObject::Connection m_cancelButton;
};

// "Transfer failed", and under it why: the exchange's failure when it knows
// one, then each document that stayed in the outbox unsent.
QString failedMessage(const TransferOutcome& outcome)
{
    QStringList lines{QStringLiteral("Transfer failed")};
    if (!outcome.exchange.succeeded && !outcome.exchange.failure.isEmpty())
        lines << outcome.exchange.failure;
    for (const UnpackedDocument& document : outcome.unpacked)
        lines << QStringLiteral("เอกสาร %1 ยังไม่ได้บรรจุลงใน %2 จึงยังไม่ได้ส่ง เอกสารยังอยู่ในโฟลเดอร์ส่งข้อมูล "
                                "และจะบรรจุใหม่เมื่อ Transfer ครั้งต่อไป (%3)")
                     .arg(document.name, document.archive, document.cause);
    if (outcome.exchange.succeeded)
        lines << QStringLiteral("ไฟล์อื่นส่งถึงเซิร์ฟเวอร์เรียบร้อยแล้ว");
    return lines.join(QLatin1Char('\n'));
}

QString cancelledMessage(const TransferOutcome& outcome)
{
    QString text = QStringLiteral("ยกเลิกการ Transfer แล้ว\n"
                                  "ไฟล์ที่ส่งหรือรับครบแล้วยังอยู่ครบ ไฟล์และรายการที่ยังไม่ได้ส่งรออยู่ในเครื่อง "
                                  "และจะส่งต่อเมื่อกด Transfer ครั้งต่อไป");
    if (!outcome.exchange.failure.isEmpty())
        text += QStringLiteral("\nก่อนยกเลิก:\n") + outcome.exchange.failure;
    return text;
}

// The box's details: what this Transfer wrote into its history.
QString historyDetails(const TransferLog& log)
{
    if (log.linesOfThisRun().isEmpty())
        return {};
    return QStringLiteral("บันทึกการ Transfer ครั้งนี้ (%1):\n").arg(log.filePath()) +
           log.linesOfThisRun().join(QLatin1Char('\n'));
}

} // namespace

TransferRun::TransferRun(records::ClaimDatabase& database, const ProgramValues& values, TransferForms& forms,
                         QWidget* mainWindow)
    : m_job(database, values.GarageName), m_forms(forms), m_mainWindow(mainWindow)
{
}

void TransferRun::run()
{
    m_outcome = {};
    platform::CancelRequest cancel;
    PackingWindow packing(m_forms, cancel);
    exchange::ExchangeWindows exchangeWindows(m_forms, m_job.garageName(), &cancel);
    m_job.Observer = &packing;
    m_job.ExchangeWatcher = &exchangeWindows;
    m_job.Cancel = &cancel;
    m_job.Packer = m_forms.Zipf ? &m_forms.Zipf->Zip1 : nullptr;
    m_job.ExchangeReadTimeout = ExchangeReadTimeout;

    platform::InputBlock block(m_mainWindow);
    m_outcome = m_job.run();
    block.release();
    m_job.Observer = nullptr;
    m_job.ExchangeWatcher = nullptr;
    m_job.Cancel = nullptr;

    const QString details = historyDetails(m_job.log());
    if (m_outcome.cancelled)
        platform::dialogs().showMessage({platform::applicationTitle(), cancelledMessage(m_outcome),
                                         platform::MessageIcon::Information, details});
    else if (m_outcome.complete())
        platform::dialogs().showMessage({platform::applicationTitle(), QStringLiteral("Transfer Complete"),
                                         platform::MessageIcon::Information, details});
    else
        platform::dialogs().showMessage(
            {platform::applicationTitle(), failedMessage(m_outcome), platform::MessageIcon::Error, details});
}

} // namespace tevrak::transfer
