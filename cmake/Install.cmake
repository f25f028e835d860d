# Where `cmake --install` puts things under its prefix. The programs go to
# bin/ and find the platform library through an RPATH relative to
# themselves; the platform finds the modules and the cabinets from the
# running program's place (platform/src/base/InstallLayout.cpp), so an installed
# tree can be moved as a whole and never reaches back into the build.
set(HANDHELD_INSTALL_LIBDIR lib/gps-sleeve)              # libplatform.so
set(HANDHELD_INSTALL_MODULEDIR ${HANDHELD_INSTALL_LIBDIR}/modules)  # the handheld's ROM
set(HANDHELD_INSTALL_PACKAGEDIR share/gps-sleeve/packages)        # the packages' cabinets
set(HANDHELD_INSTALL_MANDIR share/man/man1)
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${HANDHELD_INSTALL_LIBDIR}")
