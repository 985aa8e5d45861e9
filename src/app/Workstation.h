#pragma once

#include "mainwindow/SharedForms.h"

#include <QString>
#include <memory>

class QWidget;

namespace tevrak {

class TPicture;
class TRegisterf;
class TRegisterF2;
class TCopyf;
class TZipf;
class TEnquiry;
class TFormUser;

// The forms of one run of the program, created in the start-up order: the
// splash, then either the garage registration (no garage name stored) or the
// main window, the application title, and the long-lived forms.
class Workstation {
public:
    Workstation();
    ~Workstation();
    Workstation(const Workstation&) = delete;
    Workstation& operator=(const Workstation&) = delete;

    // Runs the start-up up to the message loop. The splash stays up for
    // `splashMilliseconds` without handling any event.
    void start(int splashMilliseconds);

    // The form whose closing ends the program.
    QWidget* mainForm() const;

    TPicture* picture() const { return m_picture.get(); }
    TRegisterf* registration() const { return m_registration.get(); }
    SharedForms& forms() { return m_forms; }

    static QString title();

private:
    void openMainWindowModally();

    SharedForms m_forms;
    std::unique_ptr<TRegisterf> m_registration;
    std::unique_ptr<TPicture> m_picture;
    std::unique_ptr<TCopyf> m_copyForm;
    std::unique_ptr<TZipf> m_zipForm;
    std::unique_ptr<TRegisterF2> m_branchForm;
    std::unique_ptr<TEnquiry> m_enquiryForm;
    std::unique_ptr<TFormUser> m_requesterForm;
};

}  // namespace tevrak
