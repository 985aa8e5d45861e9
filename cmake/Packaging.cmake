# Installing Tevrak on a workstation: the install rules and the Debian package
# that scripts/package builds with CPack (tevrak_<version>_amd64.deb). The
# version is the project's, from the top-level project().

include(GNUInstallDirs)

set(TEVRAK_RELEASE_DATE "2026-12-09")
set(TEVRAK_MAINTAINER "The Tevrak developers <tevrak@example.org>")
# Stand-ins until the project has a public home of its own.
set(TEVRAK_HOMEPAGE "https://tevrak.example.org/")
set(TEVRAK_APPSTREAM_ID "org.example.tevrak")

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)

execute_process(COMMAND date -u -R -d "${TEVRAK_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE TEVRAK_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${packaging}/tevrak.metainfo.xml.in ${generated}/${TEVRAK_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${packaging}/changelog.in ${generated}/changelog @ONLY)
configure_file(${packaging}/tevrak.1 ${generated}/tevrak.1 @ONLY)
configure_file(${packaging}/tevrak-init.1 ${generated}/tevrak-init.1 @ONLY)

# The icon is drawn once, as SVG; its PNG sizes are rendered from it.
find_program(TEVRAK_RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_sizes 48 128 256)
set(rendered_files)
foreach(size IN LISTS icon_sizes)
  set(png ${generated}/icons/${size}x${size}/tevrak.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/icons/${size}x${size}
    COMMAND ${TEVRAK_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${packaging}/tevrak.svg
    DEPENDS ${packaging}/tevrak.svg
    COMMENT "Rendering the ${size} px icon")
  list(APPEND rendered_files ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# Debian's documents and manual pages go compressed, without time stamps.
foreach(file changelog tevrak.1 tevrak-init.1)
  add_custom_command(OUTPUT ${generated}/${file}.gz
    COMMAND gzip -9nc ${generated}/${file} > ${generated}/${file}.gz
    DEPENDS ${generated}/${file})
  list(APPEND rendered_files ${generated}/${file}.gz)
endforeach()
add_custom_target(tevrak_package_files ALL DEPENDS ${rendered_files})

install(TARGETS tevrak tevrak-init RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TEVRAK_QT_TRANSLATION} DESTINATION ${TEVRAK_TRANSLATIONS_INSTALL_DIR})
install(FILES ${packaging}/tevrak.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/tevrak.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${generated}/${TEVRAK_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${generated}/tevrak.1.gz ${generated}/tevrak-init.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tevrak)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tevrak)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tevrak developers")
set(CPACK_PACKAGE_CONTACT ${TEVRAK_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "car-damage photographs filed by claim and sent to the insurer")
set(CPACK_PACKAGE_DESCRIPTION
  "Tevrak is the workstation program of car-repair garages and insurer branch\n"
  "offices. Clerks file the day's damage photographs and scanned documents\n"
  "under the claim number, keep the register of cars waiting for repair and\n"
  "the survey expense summaries, and exchange everything with the insurer's\n"
  "FTP server in one Transfer.")
string(CONCAT CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TEVRAK_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries the binaries link: the Thai fonts of its windows.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-thai-tlwg")
# Opening the downloaded files with the desktop's application.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
