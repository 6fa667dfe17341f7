# Checks what a user gets from the Debian package: the menu entry and the
# AppStream data pass their validators, the package holds the programs,
# icon, menu entry, AppStream data and manual page under /usr, and its
# Depends names the run-time packages the program needs and no others.
#
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DKORVANA_EXE=... -P package_check.cmake

cmake_minimum_required(VERSION 3.25)

foreach(var SOURCE_DIR BINARY_DIR KORVANA_EXE)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

set(appstream_id org.korvana.Korvana)
set(work "${BINARY_DIR}/package-check")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")

function(fail text)
    message(SEND_ERROR "${text}")
endfunction()

# Runs a command that must succeed; its output goes to <outvar>.
function(run outvar)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${ARGN}\nexited with ${rc}\n${out}${err}")
    endif()
    set(${outvar} "${out}${err}" PARENT_SCOPE)
endfunction()

function(validate_menu_entry file)
    # Warnings come with exit code 0; they count as failures too.
    run(out desktop-file-validate "${file}")
    if(NOT out STREQUAL "")
        fail("desktop-file-validate ${file}:\n${out}")
    endif()
endfunction()

function(validate_metainfo file)
    run(out appstreamcli validate --no-net "${file}")
    message(STATUS "appstreamcli: ${out}")
endfunction()

# 1. The files as they are built.
validate_menu_entry("${SOURCE_DIR}/packaging/korvana.desktop")
validate_metainfo("${BINARY_DIR}/packaging/${appstream_id}.metainfo.xml")

# The options the menu entry relies on reach the program.
run(version "${KORVANA_EXE}" --version)
if(NOT version MATCHES "^korvana [0-9]+\\.[0-9]+")
    fail("korvana --version printed: ${version}")
endif()
run(usage "${KORVANA_EXE}" --help)
if(NOT usage MATCHES "--data-folder")
    fail("korvana --help does not mention --data-folder:\n${usage}")
endif()

# 2. The package, built into a folder of its own.
run(out cpack -G DEB --config "${BINARY_DIR}/CPackConfig.cmake" -B "${work}")
file(GLOB debs "${work}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one .deb in ${work}, found: ${debs}\n${out}")
endif()
list(GET debs 0 deb)

run(contents dpkg-deb -c "${deb}")
set(expected_files
    ./usr/bin/korvana
    ./usr/bin/korvana-import
    ./usr/share/applications/korvana.desktop
    ./usr/share/metainfo/${appstream_id}.metainfo.xml
    ./usr/share/icons/hicolor/scalable/apps/korvana.svg
    ./usr/share/man/man1/korvana.1.gz)
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
set(needed libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libsqlite3-0 libmdb3
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

# 3. The files as installed: the menu entry and icon fit together, the
# programs carry no path into the build tree, the manual page reads.
run(out dpkg-deb -x "${deb}" "${work}/root")
set(root "${work}/root")
validate_menu_entry("${root}/usr/share/applications/korvana.desktop")
validate_metainfo("${root}/usr/share/metainfo/${appstream_id}.metainfo.xml")
file(STRINGS "${root}/usr/share/applications/korvana.desktop" exec REGEX "^Exec=")
file(STRINGS "${root}/usr/share/applications/korvana.desktop" icon REGEX "^Icon=")
if(NOT exec STREQUAL "Exec=korvana --data-folder")
    fail("menu entry starts ${exec}, not the program in its data folder")
endif()
string(REPLACE "Icon=" "" icon "${icon}")
if(NOT EXISTS "${root}/usr/share/icons/hicolor/scalable/apps/${icon}.svg")
    fail("menu entry names icon '${icon}', which the package does not hold")
endif()
foreach(program korvana korvana-import)
    run(headers objdump -p "${root}/usr/bin/${program}")
    if(headers MATCHES "R(UN)?PATH")
        fail("${program} keeps a library path:\n${headers}")
    endif()
endforeach()
run(out gzip -t "${root}/usr/share/man/man1/korvana.1.gz")

file(REMOVE_RECURSE "${work}")
