# `make package` (or `cmake --build build --target package`): a Debian package of
# what InstallRules.cmake installs, under /usr. The libraries it needs are read
# from the program itself by dpkg-shlibdeps; what the program uses without
# linking it (a font, services on D-Bus, plug-ins Qt loads at run time) is named
# here by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pealix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Pealix developers")
set(CPACK_PACKAGE_CONTACT "The Pealix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "talk to every room at once through network speakers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pealix turns the Sonos players and Cast devices (Chromecast, Nest) already
on the local network into a house intercom: hold a key chord anywhere on the
desktop, or tap the talk button in the tray panel, speak, and let go, and
every enabled speaker plays what was said at the same moment. Sonos players
then go back to what they were playing. Messages used often can be recorded
once and sent with one tap.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# Programs in /usr, whatever prefix the build directory was configured with
# (`make` configures build/ for /usr, so the paths built into the program match).
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Packaging: this build looks for its installed README under ${CMAKE_INSTALL_PREFIX}; "
                 "configure with -DCMAKE_INSTALL_PREFIX=/usr for a package")
endif()
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tray, panel and settings draw their symbols with this font.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-material-design-icons-iconfont")
# Cast discovery asks avahi-daemon over D-Bus; the microphone goes through a
# PulseAudio server (PipeWire's included); a Wayland session gets the global
# hotkey from the desktop portal.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon, pipewire-pulse | pulseaudio, xdg-desktop-portal")
# GNOME shows tray items only with this extension.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")

include(CPack)
