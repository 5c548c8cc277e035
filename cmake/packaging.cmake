# What `cmake --install` puts where, and the packages CPack makes of it.
#
# Linux: bin/vornakite-convert, and share/doc/vornakite-convert/ with the README, the licence and
# the documents the README links to (docs/). `cpack` makes a Debian package of it.
# Windows: both programs, the README and the licence side by side in one folder, the documents
# in docs/ beneath it, as a Windows user unpacks and starts them; `cpack` makes a .zip of it.
# The libraries, tests, test tools and benchmarks have no install rules (nor has googletest:
# tests/ builds it with INSTALL_GTEST off).

# Before GNUInstallDirs, which would name the folder after the project.
set(CMAKE_INSTALL_DOCDIR "share/doc/vornakite-convert"
    CACHE PATH "Documentation folder (under the prefix)")
include(GNUInstallDirs)

if(WIN32)
    set(VORNAKITE_BINDIR .)
    set(VORNAKITE_DOCDIR .)
else()
    set(VORNAKITE_BINDIR ${CMAKE_INSTALL_BINDIR})
    set(VORNAKITE_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS vornakite-convert RUNTIME DESTINATION ${VORNAKITE_BINDIR})
if(TARGET VornakiteConverter)
    install(TARGETS VornakiteConverter RUNTIME DESTINATION ${VORNAKITE_BINDIR})
endif()
install(FILES README.md LICENSE DESTINATION ${VORNAKITE_DOCDIR})
install(FILES docs/cleaning.md docs/field-numbers.md docs/reliability.md docs/report.md
              docs/report.png
        DESTINATION ${VORNAKITE_DOCDIR}/docs)

set(CPACK_PACKAGE_NAME vornakite-convert)
set(CPACK_PACKAGE_VENDOR "The Vornakite Converter authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "convert yield-monitor logs into Shapefile, GeoJSON and CSV point layers")
set(CPACK_PACKAGE_DESCRIPTION
    "vornakite-convert turns a combine's yield-monitor logs (@-separated DY sample
records) into GIS point layers: one ESRI Shapefile set per log, or GeoJSON and
CSV, with the yield, moisture, weight, test weight and speed of every sample.
It can flag bad points with quality filters, and write a summary per field and
an HTML report with yield maps.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
# cpack installs what is built and builds nothing itself (else its preinstall step would build
# every test and benchmark first): build the programs, then run cpack.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME vornakite-convert-${PROJECT_VERSION}-windows-x64)
else()
    set(CPACK_GENERATOR DEB)
    set(VORNAKITE_PACKAGE_MAINTAINER "The Vornakite Converter authors <authors@vornakite.invalid>"
        CACHE STRING "Maintainer field of the Debian package")
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VORNAKITE_PACKAGE_MAINTAINER})
    set(CPACK_DEBIAN_PACKAGE_SECTION science)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    # Depends from the libraries the program links (dpkg-shlibdeps, in dpkg-dev); without it,
    # the C and C++ runtime libraries by hand.
    find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(DPKG_SHLIBDEPS)
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    else()
        set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
    endif()
endif()

include(CPack)
