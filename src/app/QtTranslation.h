#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

namespace tevrak {

// Qt's own texts (message box buttons, the print preview, the printer and
// page set-up dialogs) in Thai, whatever the desktop's language: the clerks
// read Thai. The translation is the file qt_th.qm, found beside the installed
// program (../share/tevrak/translations) or, for a program run from its build
// tree, in the build's translations folder.
//
// Installs it into the application; returns the file used, or an empty string
// when none could be read (Qt's texts then stay English and the program runs).
QString installQtTranslation(QCoreApplication& application);

// The folders searched, in order.
QStringList qtTranslationFolders();

} // namespace tevrak
