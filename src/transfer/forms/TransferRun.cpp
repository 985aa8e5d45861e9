#include "transfer/forms/TransferRun.h"

#include "exchange/forms/ExchangeWindows.h"
#include "platform/widgets/Dialogs.h"
#include "platform/widgets/InputBlock.h"
#include "platform/core/ProgramValues.h"
#include "transfer/forms/TransferForms.h"
#include "transfer/forms/ZipfU.h"

#include <QCoreApplication>

namespace tevrak::transfer {

namespace {

// "Process Zip..." around each packing run.
class PackingWindow : public TransferObserver {
public:
    explicit PackingWindow(TransferForms& forms) : m_forms(forms) {}

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

private:
    TransferForms& m_forms;
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

} // namespace

TransferRun::TransferRun(records::ClaimDatabase& database, const ProgramValues& values, TransferForms& forms,
                         QWidget* mainWindow)
    : m_job(database, values.GarageName), m_forms(forms), m_mainWindow(mainWindow)
{
}

void TransferRun::run()
{
    m_outcome = {};
    PackingWindow packing(m_forms);
    exchange::ExchangeWindows exchangeWindows(m_forms, m_job.garageName());
    m_job.Observer = &packing;
    m_job.ExchangeWatcher = &exchangeWindows;
    m_job.Packer = m_forms.Zipf ? &m_forms.Zipf->Zip1 : nullptr;
    m_job.ExchangeReadTimeout = ExchangeReadTimeout;

    platform::InputBlock block(m_mainWindow);
    m_outcome = m_job.run();
    block.release();

    if (m_outcome.complete())
        platform::dialogs().showMessage({platform::applicationTitle(), QStringLiteral("Transfer Complete"),
                                         platform::MessageIcon::Information});
    else
        platform::dialogs().showMessage(
            {platform::applicationTitle(), failedMessage(m_outcome), platform::MessageIcon::Error});
}

} // namespace tevrak::transfer
