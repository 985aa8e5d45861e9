#include "exchange/forms/ExchangeWindows.h"

#include "exchange/forms/CopyfU.h"
#include "exchange/forms/ExchangeForms.h"
#include "platform/widgets/Dialogs.h"

#include <QCoreApplication>

namespace tevrak::exchange {

ExchangeWindows::ExchangeWindows(ExchangeForms& forms, QString garageName)
    : m_forms(forms), m_garageName(std::move(garageName))
{
    m_sinceEvents.start();
}

void ExchangeWindows::uploadStarting(int fileCount)
{
    if (m_forms.Copyf)
        m_forms.Copyf->startUpload(fileCount);
    QCoreApplication::processEvents(); // the window appears now, not at the first block
    m_sinceEvents.restart();
}

void ExchangeWindows::uploadingFile(const QString& name)
{
    if (m_forms.Copyf)
        m_forms.Copyf->showFile(name, m_garageName);
}

void ExchangeWindows::fileUploaded()
{
    if (m_forms.Copyf)
        m_forms.Copyf->stepIt();
    keepAlive();
}

void ExchangeWindows::uploadEnded()
{
    if (m_forms.Copyf)
        m_forms.Copyf->hide();
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
