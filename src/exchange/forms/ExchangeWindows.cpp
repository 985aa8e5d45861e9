#include "exchange/forms/ExchangeWindows.h"

#include "exchange/forms/CopyfU.h"
#include "exchange/forms/ExchangeForms.h"
#include "platform/widgets/Dialogs.h"

#include <QCoreApplication>
#include <QObject>

namespace tevrak::exchange {

ExchangeWindows::ExchangeWindows(ExchangeForms& forms, QString garageName, platform::CancelRequest* cancel)
    : m_forms(forms), m_garageName(std::move(garageName))
{
    m_sinceEvents.start();
    if (m_forms.Copyf && cancel)
        m_cancelButton = QObject::connect(m_forms.Copyf, &TCopyf::cancelPressed, [cancel] { cancel->request(); });
}

ExchangeWindows::~ExchangeWindows()
{
    QObject::disconnect(m_cancelButton);
}

void ExchangeWindows::showNow()
{
    QCoreApplication::processEvents(); // the window appears now, not at the first block
    m_sinceEvents.restart();
}

void ExchangeWindows::uploadStarting(int)
{
    if (m_forms.Copyf)
        m_forms.Copyf->startUpload();
    showNow();
}

void ExchangeWindows::uploadingFile(const QString& name)
{
    if (m_forms.Copyf)
        m_forms.Copyf->showFile(name, m_garageName);
}

void ExchangeWindows::uploadEnded()
{
    if (m_forms.Copyf)
        m_forms.Copyf->hide();
}

void ExchangeWindows::downloadStarting(int fileCount)
{
    if (m_forms.Copyf && fileCount > 0) {
        m_forms.Copyf->startDownload();
        showNow();
    }
}

void ExchangeWindows::downloadEnded()
{
    if (m_forms.Copyf)
        m_forms.Copyf->hide();
}

void ExchangeWindows::progress(const ProgressReport& report)
{
    if (m_forms.Copyf && m_forms.Copyf->isVisible())
        m_forms.Copyf->showProgress(report);
}

void ExchangeWindows::keepAlive()
{
    if (m_sinceEvents.elapsed() < 40)
        return;
    QCoreApplication::processEvents();
    m_sinceEvents.restart();
}

void ExchangeWindows::branchMissing()
{
    if (m_forms.RegisterF2)
        platform::dialogs().showModal(*m_forms.RegisterF2);
}

void ExchangeWindows::openDownload(const QString& localFile, const QString& dayFolder)
{
    platform::dialogs().openDocument(localFile, dayFolder);
}

} // namespace tevrak::exchange
