# Checks what a user gets from the Debian package: the menu entry and the
# AppStream data pass their validators, the package holds the programs,
# icon, menu entry, AppStream data, manual pages, copyright and changelog
# under /usr, and its Depends names the run-time packages the program needs
# and no others.
#
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DKORVANA_EXE=... -DAPPSTREAM_ID=...
#         -P package_check.cmake

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/package_common.cmake)

foreach(var SOURCE_DIR KORVANA_EXE APPSTREAM_ID)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()
set(appstream_id ${APPSTREAM_ID})
set(menu_entry ${appstream_id}.desktop)
set(programs korvana korvana-import korvana-demodata)

function(validate_menu_entry file)
    # Warnings come with exit code 0; they count as failures too.
    run(out desktop-file-validate "${file}")
    if(NOT out STREQUAL "")
        fail("desktop-file-validate ${file}:\n${out}")
    endif()
endfunction()

function(validate_metainfo file)
    # Pedantic notes also come with exit code 0; any issue line fails.
    run(out appstreamcli validate --pedantic --no-net "${file}")
    if(out MATCHES "(^|\n)[EWIP]: ")
        fail("appstreamcli validate --pedantic ${file}:\n${out}")
    endif()
endfunction()

# 1. The files as they are built.
validate_menu_entry("${SOURCE_DIR}/packaging/${menu_entry}")
validate_metainfo("${BINARY_DIR}/packaging/${appstream_id}.metainfo.xml")

# The options the menu entry relies on reach the program.
run(version "${KORVANA_EXE}" --version)
if(NOT version MATCHES "^korvana [0-9]+\\.[0-9]+" OR NOT version MATCHES "GPL-3.0-or-later")
    fail("korvana --version printed: ${version}")
endif()
run(usage "${KORVANA_EXE}" --help)
if(NOT usage MATCHES "--data-folder")
    fail("korvana --help does not mention --data-folder:\n${usage}")
endif()

# 2. The package, built into a folder of its own.
set(work "${BINARY_DIR}/package-check")
build_deb("${work}" deb)

run(contents dpkg-deb -c "${deb}")
set(expected_files
    ./usr/share/applications/${menu_entry}
    ./usr/share/metainfo/${appstream_id}.metainfo.xml
    ./usr/share/icons/hicolor/scalable/apps/korvana.svg
    ./usr/share/doc/korvana/copyright
    ./usr/share/doc/korvana/changelog.gz)
foreach(program IN LISTS programs)
    list(APPEND expected_files ./usr/bin/${program} ./usr/share/man/man1/${program}.1.gz)
endforeach()
foreach(path IN LISTS expected_files)
    string(REGEX REPLACE "([.+])" "\\\\\\1" pattern "${path}")
    if(NOT contents MATCHES " ${pattern}\n")
        fail("package lacks ${path}")
    endif()
endforeach()
# Everything under /usr, nothing under /usr/local.
string(REGEX MATCHALL " \\./[^\n]*" entries "${contents}")
foreach(entry IN LISTS entries)
    if(NOT entry MATCHES "^ \\./(usr/)?$" AND NOT entry MATCHES "^ \\./usr/(bin|share)/")
        fail("unexpected path in package:${entry}")
    endif()
    if(entry MATCHES "/usr/local")
        fail("package installs under /usr/local:${entry}")
    endif()
endforeach()

run(info dpkg-deb -I "${deb}")
message(STATUS "dpkg-deb -I:\n${info}")
run(package dpkg-deb -f "${deb}" Package)
run(arch dpkg-deb -f "${deb}" Architecture)
run(host_arch dpkg --print-architecture)
if(NOT package STREQUAL "korvana\n")
    fail("Package field is ${package}")
endif()
if(NOT arch STREQUAL host_arch)
    fail("Architecture ${arch} differs from this system's ${host_arch}")
endif()

run(depends dpkg-deb -f "${deb}" Depends)
string(STRIP "${depends}" depends)
string(REGEX REPLACE " *\\([^)]*\\)" "" names "${depends}")
string(REPLACE ", " ";" names "${names}")
string(REPLACE "," ";" names "${names}")
set(needed libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libsqlite3-0 libmdb3 libqrencode4 libpq5
           libc6 libstdc++6 qt6-qpa-plugins fonts-dejavu-core)
# Pulled in by what the programs link against: glib by libmdb's interface,
# libgcc by C++ exception unwinding.
set(allowed ${needed} libglib2.0-0 libgcc-s1)
foreach(name IN LISTS needed)
    if(NOT name IN_LIST names)
        fail("Depends lacks ${name}: ${depends}")
    endif()
endforeach()
foreach(name IN LISTS names)
    if(NOT name IN_LIST allowed)
        fail("Depends names ${name}, which the program does not need: ${depends}")
    endif()
endforeach()

# 3. The files as installed: the menu entry, AppStream data and icon fit
# together, and the programs carry no path into the build tree.
run(out dpkg-deb -x "${deb}" "${work}/root")
set(root "${work}/root")
validate_menu_entry("${root}/usr/share/applications/${menu_entry}")
validate_metainfo("${root}/usr/share/metainfo/${appstream_id}.metainfo.xml")
file(STRINGS "${root}/usr/share/applications/${menu_entry}" exec REGEX "^Exec=")
file(STRINGS "${root}/usr/share/applications/${menu_entry}" icon REGEX "^Icon=")
if(NOT exec STREQUAL "Exec=korvana --data-folder")
    fail("menu entry starts ${exec}, not the program in its data folder")
endif()
file(STRINGS "${root}/usr/share/metainfo/${appstream_id}.metainfo.xml" launchable REGEX "<launchable")
if(NOT launchable MATCHES ">${menu_entry}<")
    fail("AppStream data launches ${launchable}, not the menu entry ${menu_entry}")
endif()
string(REPLACE "Icon=" "" icon "${icon}")
if(NOT EXISTS "${root}/usr/share/icons/hicolor/scalable/apps/${icon}.svg")
    fail("menu entry names icon '${icon}', which the package does not hold")
endif()
foreach(program IN LISTS programs)
    run(headers objdump -p "${root}/usr/bin/${program}")
    if(headers MATCHES "R(UN)?PATH")
        fail("${program} keeps a library path:\n${headers}")
    endif()
endforeach()

file(REMOVE_RECURSE "${work}")
