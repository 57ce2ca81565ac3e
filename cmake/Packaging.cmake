# SPDX-License-Identifier: GPL-3.0-or-later
# Installing on a Linux desktop and the Debian package.
#
#   cmake --install build --prefix ~/.local      (or DESTDIR=/some/staging cmake --install build)
#   cmake --build build --target package         (or: cd build && cpack -G DEB)
#
# The executables install themselves (app/, sim/); this file adds what the desktop needs to
# show the program: the desktop entry, the icons and the AppStream metainfo.

include(GNUInstallDirs)

# The desktop id: the organization domain reversed, then the program's name. It names the
# desktop entry, the icon and the metainfo, and the running program reports it to the desktop
# (QGuiApplication::desktopFileName), which finds the entry by it. The domain must be the one
# that app/Startup.cpp sets; tst_install_layout checks that the two agree.
set(TAVRIN_ORGANIZATION_DOMAIN "tavrin.example")
string(REPLACE "." ";" _tavrin_domain_labels "${TAVRIN_ORGANIZATION_DOMAIN}")
list(REVERSE _tavrin_domain_labels)
list(JOIN _tavrin_domain_labels "." _tavrin_reversed_domain)
set(TAVRIN_APP_ID "${_tavrin_reversed_domain}.${PROJECT_NAME}")
target_compile_definitions(tavrin_startup PRIVATE TAVRIN_APP_ID="${TAVRIN_APP_ID}")

# The date of the release named by project(VERSION): the metainfo lists it. Move both together.
set(TAVRIN_RELEASE_DATE "2026-12-11")
set(TAVRIN_EXECUTABLE tavrin)

if(UNIX AND NOT APPLE)
    set(_tavrin_desktop_src ${PROJECT_SOURCE_DIR}/resources/desktop)
    set(_tavrin_desktop_out ${PROJECT_BINARY_DIR}/desktop)

    configure_file(${_tavrin_desktop_src}/tavrin.desktop.in
                   ${_tavrin_desktop_out}/${TAVRIN_APP_ID}.desktop @ONLY)
    configure_file(${_tavrin_desktop_src}/tavrin.metainfo.xml.in
                   ${_tavrin_desktop_out}/${TAVRIN_APP_ID}.metainfo.xml @ONLY)
    install(FILES ${_tavrin_desktop_out}/${TAVRIN_APP_ID}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${_tavrin_desktop_out}/${TAVRIN_APP_ID}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    # The icon: one hand-drawn SVG is the source; the bitmap sizes of the icon theme are
    # rendered from it here, so they can never drift from it.
    set(_tavrin_icon_svg ${_tavrin_desktop_src}/tavrin.svg)
    set(_tavrin_icon_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    install(FILES ${_tavrin_icon_svg} DESTINATION ${_tavrin_icon_dir}/scalable/apps
            RENAME ${TAVRIN_APP_ID}.svg)

    find_program(RSVG_CONVERT rsvg-convert)
    if(NOT RSVG_CONVERT)
        message(FATAL_ERROR "rsvg-convert renders the icons: install librsvg2-bin "
                            "(scripts/install-deps.sh does)")
    endif()
    set(_tavrin_icon_pngs)
    foreach(size 16 22 24 32 48 64 128 256)
        set(png ${_tavrin_desktop_out}/icons/${size}x${size}/${TAVRIN_APP_ID}.png)
        add_custom_command(
            OUTPUT ${png}
            COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${png}
                    ${_tavrin_icon_svg}
            DEPENDS ${_tavrin_icon_svg}
            COMMENT "Rendering the ${size}x${size} icon"
            VERBATIM)
        list(APPEND _tavrin_icon_pngs ${png})
        install(FILES ${png} DESTINATION ${_tavrin_icon_dir}/${size}x${size}/apps)
    endforeach()
    add_custom_target(tavrin_icons ALL DEPENDS ${_tavrin_icon_pngs})
endif()

# The Debian package: tavrin_<version>_<arch>.deb in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VENDOR "Tavrin")
set(CPACK_PACKAGE_CONTACT "Tavrin <dev@tavrin.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "desktop companion that edits the note open on your phone")
set(CPACK_PACKAGE_DESCRIPTION [[
Tavrin connects to the note server of a note-taking app on your phone and
opens the note that is open there in a full-window editor. Every keystroke,
cursor move and save request goes straight back to the phone, so you write
with the desktop's keyboard while the note stays on the phone. Tavrin also
reformats whole notes, removes blank lines and indentation, keeps an undo and
redo history of whole texts and lets you set the editor's font and colours.
The package also holds tavrin-phone-sim, a note server that stands in for the
phone.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${TAVRIN_WEB_HOST}/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries come from dpkg-shlibdeps. The QML modules are loaded at run time, so no tool
# sees them: these are the imports of ui/main.qml and what they stand on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(_tavrin_qml_modules
    qml-module-qtqml
    qml-module-qtquick2
    qml-module-qtquick-window2
    qml-module-qtquick-controls2
    qml-module-qtquick-templates2
    qml-module-qt-labs-platform)
list(TRANSFORM _tavrin_qml_modules APPEND " (>= 5.15)")
list(JOIN _tavrin_qml_modules ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# Qt's own translations: without them the program still speaks the user's language, but the
# platform dialogs (colours, fonts) speak English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qttranslations5-l10n)

include(CPack)
