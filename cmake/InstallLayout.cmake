# Where an installed Pealix keeps its files (the GNU layout under the prefix).
# Included before the source folders, so that paths they build into the program
# (the README behind the About tab's links) agree with where the files land.

# Debian keeps a package's documents under its package name, in lower case.
# GNUInstallDirs keeps an empty entry for "its default" (the project name as
# written), also in build directories configured before this line; a folder
# given on the command line stays.
if(NOT CMAKE_INSTALL_DOCDIR)
  set(CMAKE_INSTALL_DOCDIR "share/doc/pealix" CACHE PATH "Documentation root (DATAROOTDIR/doc/pealix)" FORCE)
endif()
include(GNUInstallDirs)

# The application's reverse-DNS identifier: the name of its desktop entry, its
# icon and its AppStream component, and what it tells the desktop portal.
set(PEALIX_APP_ID org.pealix.Pealix)
