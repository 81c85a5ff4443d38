# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Install helpers. Destinations follow GNUInstallDirs; installed programs and libraries find the
# project's shared libraries relative to their own location ($ORIGIN), so an installed tree works
# in any prefix and under DESTDIR without LD_LIBRARY_PATH.
include(GNUInstallDirs)

# The ABI version of the shared libraries: the SONAME is lib<Name>.so.<FERRIK_SOVERSION>.
set(FERRIK_SOVERSION 0)

file(RELATIVE_PATH _ferrik_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})

# ferrik_install_library(<target> EXPORT_NAME <name> [EXPORT <set>] [HEADERS <dir>])
# Versions a shared library (SONAME), installs it and, with EXPORT, its namelink and the public
# headers in HEADERS (installed under include/) as part of the CMake export set <set>. Without
# EXPORT the library is installed for the programs only (runtime file and SONAME link).
function(ferrik_install_library target)
    cmake_parse_arguments(ARG "" "EXPORT_NAME;EXPORT;HEADERS" "" ${ARGN})
    set_target_properties(${target} PROPERTIES
        VERSION ${PROJECT_VERSION}
        SOVERSION ${FERRIK_SOVERSION}
        EXPORT_NAME ${ARG_EXPORT_NAME}
        INSTALL_RPATH "$ORIGIN")
    if(ARG_EXPORT)
        install(TARGETS ${target} EXPORT ${ARG_EXPORT}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    else()
        install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)
    endif()
    if(ARG_HEADERS)
        install(DIRECTORY ${ARG_HEADERS}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    endif()
endfunction()

# ferrik_install_program(<target>): installs an executable into bin.
function(ferrik_install_program target)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${_ferrik_bin_to_lib}")
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# ferrik_install_manpage(<file>): installs a manual page into the section its name ends with.
function(ferrik_install_manpage file)
    string(REGEX MATCH "[0-9]$" section ${file})
    install(FILES ${file} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
