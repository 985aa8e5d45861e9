#include "app/Workstation.h"

#include "app/FirstStart.h"
#include "exchange/forms/CopyfU.h"
#include "mainwindow/PictureU.h"
#include "records/forms/EnquiryU.h"
#include "records/forms/FormUserU.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/Registry.h"
#include "startup/RegisterF2U.h"
#include "startup/RegisterFU.h"
#include "startup/SplashU.h"
#include "transfer/forms/ZipfU.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

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
        // The splash stays for its time with the window thread free to paint it.
        QEventLoop wait;
        QTimer::singleShot(splashMilliseconds, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
    createWorkstationOnFirstStart();

    // A registry that cannot be written is reported; the start goes on with
    // what can be read (no name: the registration form asks for one).
    platform::guard([] { platform::registry::createKey(platform::registry::sarvelloKey); });
    if (storedGarageName().isEmpty())
        m_registration = std::make_unique<TRegisterf>([this] { openMainWindowModally(); });
    if (!storedGarageName().isEmpty())
        m_picture = std::make_unique<TPicture>(m_forms);

    platform::setApplicationTitle(title());

    // The long-lived forms, created hidden.
    m_copyForm = std::make_unique<TCopyf>();
    m_forms.Copyf = m_copyForm.get();
    m_zipForm = std::make_unique<TZipf>();
    m_forms.Zipf = m_zipForm.get();
    m_branchForm = std::make_unique<TRegisterF2>();
    m_forms.RegisterF2 = m_branchForm.get();
    m_enquiryForm = std::make_unique<TEnquiry>();
    m_forms.Enquiry = m_enquiryForm.get();
    m_requesterForm = std::make_unique<TFormUser>();
    m_forms.FormUser = m_requesterForm.get();

    if (QWidget* form = mainForm())
        form->show();
    // The filing guard's prints are read, and the claim folders' pictures
    // printed behind the window, once it has painted.
    if (TPicture* picture = m_picture.get())
        QTimer::singleShot(0, picture, [picture] { picture->startPrintBackfill(); });
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
    TPicture* picture = m_picture.get();
    QTimer::singleShot(0, picture, [picture] { picture->startPrintBackfill(); });
    platform::dialogs().showModal(*m_picture);
}

}  // namespace tevrak
