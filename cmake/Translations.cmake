# Qt's own texts in Thai (message box buttons, the print preview, the printer
# and page set-up dialogs): translations/qt_th.ts compiled by Qt's lrelease
# (Debian's qt6-l10n-tools) into the build's translations/ folder, which the
# program reads when it runs from the build tree; the package installs the
# same file under share/tevrak/translations.

find_program(TEVRAK_LRELEASE NAMES lrelease lrelease-qt6 PATHS /usr/lib/qt6/bin NO_DEFAULT_PATH)
find_program(TEVRAK_LRELEASE NAMES lrelease lrelease-qt6 REQUIRED)

set(TEVRAK_TRANSLATIONS_BUILD_DIR ${PROJECT_BINARY_DIR}/translations)
set(TEVRAK_TRANSLATIONS_INSTALL_DIR share/tevrak/translations)
set(TEVRAK_QT_TRANSLATION ${TEVRAK_TRANSLATIONS_BUILD_DIR}/qt_th.qm)
add_custom_command(OUTPUT ${TEVRAK_QT_TRANSLATION}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TEVRAK_TRANSLATIONS_BUILD_DIR}
  COMMAND ${TEVRAK_LRELEASE} -silent ${PROJECT_SOURCE_DIR}/translations/qt_th.ts -qm ${TEVRAK_QT_TRANSLATION}
  DEPENDS ${PROJECT_SOURCE_DIR}/translations/qt_th.ts
  COMMENT "Compiling the Thai translation of Qt's texts")
add_custom_target(tevrak_translations ALL DEPENDS ${TEVRAK_QT_TRANSLATION})
