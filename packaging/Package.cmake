# The Debian packages, built by CPack from the two install components of packaging/CMakeLists.txt:
# vantel-record_<version>_<arch>.deb (the program) and vantel-share_<version>_<arch>.deb (the
# sharing service). scripts/package builds them and checks them with lintian.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantel-record)
set(CPACK_PACKAGE_VENDOR Vantel)
set(CPACK_PACKAGE_CONTACT "Vantel <support@vantel.app>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The programs go in stripped: the build's debug information stays in the build folder.
set(CPACK_STRIP_FILES ON)
# Installed with DESTDIR, so the install step sees the real prefix /usr (the systemd unit and the
# files under /etc are written for it).
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL record share)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vantel <support@vantel.app>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://record.vantel.app/)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Runtime dependencies from the libraries the programs link (dpkg-shlibdeps), plus those below
# that they load or start at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_RECORD_PACKAGE_NAME vantel-record)
set(CPACK_DEBIAN_RECORD_PACKAGE_SECTION video)
set(CPACK_COMPONENT_RECORD_DESCRIPTION "instant replay for games on the Linux desktop
Vantel Record sits in the system tray and quietly records the display
your game is on, the game sound and, if you want, the microphone as a
track of its own, into a rolling buffer on disk. A global shortcut
(Alt+Shift+C), the tray menu or the command vantel-record save turns the
newest seconds into a clip named after the game, without re-encoding. It
follows the running game on X11 and Wayland. The Clips window plays,
trims and shares clips as links.")
# QtKeychain keeps the sharing sign-in in the Secret Service through libsecret, which it loads
# at run time. The rest makes the Wayland session work (Qt's Wayland plugin, the screen-cast and
# shortcut portals, PipeWire), plays the event sounds and opens links in the browser.
set(CPACK_DEBIAN_RECORD_PACKAGE_DEPENDS "libsecret-1-0")
set(CPACK_DEBIAN_RECORD_PACKAGE_RECOMMENDS
    "qt6-wayland, xdg-desktop-portal, pipewire, pipewire-pulse | pulseaudio, gnome-keyring, libcanberra-pulse, sound-theme-freedesktop, xdg-utils")

set(CPACK_DEBIAN_SHARE_PACKAGE_NAME vantel-share)
set(CPACK_DEBIAN_SHARE_PACKAGE_SECTION net)
set(CPACK_COMPONENT_SHARE_DESCRIPTION "sharing service for Vantel Record clips
vantel-share takes the clips players share from Vantel Record and serves
their links: clip pages with previews that Discord and other chat
programs show, and the video files with range requests. Players sign in
with Discord or with invitations. It keeps its catalog in SQLite or
PostgreSQL and the clips on disk or in S3-compatible storage. A systemd
unit runs it behind a TLS reverse proxy.")
# QtSql loads its database drivers as plugins, which no linked library names.
set(CPACK_DEBIAN_SHARE_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_SHARE_PACKAGE_SUGGESTS "libqt6sql6-psql, nginx | apache2")

# The maintainer scripts and the files under /etc that dpkg keeps through an upgrade when the
# administrator changed them.
set(control ${CMAKE_BINARY_DIR}/packaging/control)
foreach(component record share)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst-${component} ${control}/${component}/postinst
        COPYONLY)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/postrm-${component} ${control}/${component}/postrm
        COPYONLY)
endforeach()
file(WRITE ${control}/record/conffiles "/etc/xdg/autostart/vantel-record.desktop\n")
file(WRITE ${control}/share/conffiles "/etc/vantel-share/vantel-share.ini\n")
foreach(component record share)
    string(TOUPPER ${component} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA
        "${control}/${component}/postinst;${control}/${component}/postrm;${control}/${component}/conffiles")
endforeach()

include(CPack)
