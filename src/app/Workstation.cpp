#include "app/Workstation.h"

#include "mainwindow/PictureU.h"
#include "platform/Dialogs.h"
#include "platform/Registry.h"
#include "startup/RegisterF2U.h"
#include "startup/RegisterFU.h"
#include "startup/SplashU.h"

#include <QCoreApplication>
#include <QThread>

namespace tevrak {

namespace {

QString storedGarageName()
{
    return platform::registry::readString(platform::registry::sarvelloKey, platform::registry::garageNameValue);
}

}  // namespace

Workstation::Workstation() = default;

Workstation::~Workstation() = default;

QString Workstation::title() { return QStringLiteral("Tevrak หาดใหญ่ ADSL"); }

void Workstation::start(int splashMilliseconds)
{
    {
        TSplash splash;
        splash.show();
        QCoreApplication::processEvents();  // let the window appear
        splash.repaint();
        QThread::msleep(static_cast<unsigned long>(splashMilliseconds));
    }

    platform::registry::createKey(platform::registry::sarvelloKey);
    if (storedGarageName().isEmpty())
        m_registration = std::make_unique<TRegisterf>([this] { openMainWindowModally(); });
    if (!storedGarageName().isEmpty())
        m_picture = std::make_unique<TPicture>(m_forms);

    platform::setApplicationTitle(title());

    m_branchForm = std::make_unique<TRegisterF2>();
    m_forms.RegisterF2 = m_branchForm.get();

    if (QWidget* form = mainForm())
        form->show();
}

QWidget* Workstation::mainForm() const
{
    if (m_registration)
        return m_registration.get();
    return m_picture.get();
}

void Workstation::openMainWindowModally()
{
    // Created now, after the name was stored, so its initialisation reads it;
    // destroyed when it closes, also when it closes through a failure.
    m_picture = std::make_unique<TPicture>(m_forms);
    struct DestroyAfterwards {
        std::unique_ptr<TPicture>& picture;
        ~DestroyAfterwards() { picture.reset(); }
    } destroyAfterwards{m_picture};
    platform::dialogs().showModal(*m_picture);
}

}  // namespace tevrak
