# Installing KELMAR (`cmake --install BUILD --prefix P`) and its Debian
# package (`cpack -G DEB` in the build folder, or the `package` target).
#
# The folders come from cmake/InstallDirs.cmake; the files of the package
# (desktop entry, icon, AppStream metadata, manual page texts, completion
# template, Debian changelog and copyright) lie in packaging/. What can be
# made from the programs is made from them when they are built, so that it
# cannot drift: the manual pages from their --help (help2man), the bash
# completion from the words kelmar-cli's parser declares, the PNG icons from
# the SVG (rsvg-convert), the AppStream release from the changelog.
#
# The install rules put the programs last: an installation that fails on
# the way (a folder it cannot write) leaves no program on the PATH whose
# figure module, Python package or data are missing.

set(KELMAR_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KELMAR_GENERATED_DIR ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KELMAR_GENERATED_DIR}/man ${KELMAR_GENERATED_DIR}/icons)

# --- The release, from the newest entry of packaging/changelog -------------
# `kelmar (0.1.0-1) unstable; urgency=medium`, its bullets, and the trailer
# ` -- NAME <EMAIL>  Thu, 10 Dec 2026 20:00:00 +0000`.
file(STRINGS ${KELMAR_PACKAGING_DIR}/changelog changelog_lines)
set(release_notes "")
set(note "")
foreach(line IN LISTS changelog_lines)
  if(NOT KELMAR_DEB_VERSION AND line MATCHES "^kelmar \\(([^)]+)\\)")
    set(KELMAR_DEB_VERSION ${CMAKE_MATCH_1})
  elseif(KELMAR_DEB_VERSION AND line MATCHES "^  \\* (.*)$")
    list(APPEND release_notes "${note}")
    set(note "${CMAKE_MATCH_1}")
  elseif(KELMAR_DEB_VERSION AND line MATCHES "^    (.*)$")
    string(APPEND note " ${CMAKE_MATCH_1}")
  elseif(KELMAR_DEB_VERSION AND line MATCHES "^ -- (.+ <[^>]+>)  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    list(APPEND release_notes "${note}")
    set(KELMAR_PACKAGE_MAINTAINER "${CMAKE_MATCH_1}")
    set(day ${CMAKE_MATCH_2})
    set(month_name ${CMAKE_MATCH_3})
    set(year ${CMAKE_MATCH_4})
    break()
  endif()
endforeach()
if(NOT KELMAR_PACKAGE_MAINTAINER)
  message(FATAL_ERROR "packaging/changelog does not begin with an entry in Debian's format "
                      "(kelmar (VERSION-REVISION) ...; '  * ' lines; ' -- NAME <EMAIL>  DATE')")
endif()
string(REGEX REPLACE "-[^-]+$" "" changelog_upstream "${KELMAR_DEB_VERSION}")
string(REGEX REPLACE "^.*-" "" KELMAR_DEB_REVISION "${KELMAR_DEB_VERSION}")
if(NOT changelog_upstream STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog's newest entry is version ${changelog_upstream}, the project is "
                      "${PROJECT_VERSION} (CMakeLists.txt): add an entry for ${PROJECT_VERSION}-1 to the changelog")
endif()
set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND month_names ${month_name} month)
math(EXPR month "${month} + 1")
if(month LESS 10)
  set(month 0${month})
endif()
if(day LESS 10)
  set(day 0${day})
endif()
set(KELMAR_RELEASE_VERSION ${PROJECT_VERSION})
set(KELMAR_RELEASE_DATE ${year}-${month}-${day})
set(KELMAR_RELEASE_NOTES_XML "")
foreach(note IN LISTS release_notes)
  if(note)
    string(REPLACE "&" "&amp;" note "${note}")
    string(REPLACE "<" "&lt;" note "${note}")
    string(REPLACE ">" "&gt;" note "${note}")
    string(APPEND KELMAR_RELEASE_NOTES_XML "          <li>${note}</li>\n")
  endif()
endforeach()

# --- Desktop entry and AppStream metadata ----------------------------------
# The screenshots of docs/screenshots, where they are published on the web
# (AppStream takes only web addresses); left out without one.
set(KELMAR_SCREENSHOT_URL "" CACHE STRING
    "Web address of the published docs/screenshots folder, for the AppStream screenshots (none when empty)")
set(KELMAR_SCREENSHOTS_XML "")
if(KELMAR_SCREENSHOT_URL)
  string(APPEND KELMAR_SCREENSHOTS_XML
    "  <screenshots>\n"
    "    <screenshot type=\"default\">\n"
    "      <caption>Ten years of an observed weather record run, with the forest-floor and mineral-soil series</caption>\n"
    "      <image type=\"source\" width=\"1280\" height=\"800\">${KELMAR_SCREENSHOT_URL}/03-results.png</image>\n"
    "    </screenshot>\n"
    "    <screenshot>\n"
    "      <caption>July across 500 years of simulated weather</caption>\n"
    "      <image type=\"source\" width=\"1280\" height=\"800\">${KELMAR_SCREENSHOT_URL}/07-simulated.png</image>\n"
    "    </screenshot>\n"
    "  </screenshots>\n")
endif()
configure_file(${KELMAR_PACKAGING_DIR}/kelmar.desktop.in ${KELMAR_GENERATED_DIR}/${KELMAR_APP_ID}.desktop @ONLY)
configure_file(${KELMAR_PACKAGING_DIR}/kelmar.metainfo.xml.in ${KELMAR_GENERATED_DIR}/${KELMAR_APP_ID}.metainfo.xml
               @ONLY)

# --- Files made at build time from the programs and packaging/ -------------
find_program(KELMAR_HELP2MAN help2man)
find_program(KELMAR_RSVG_CONVERT rsvg-convert)
find_program(KELMAR_GZIP gzip REQUIRED)
# Tools the Debian package needs and this build lacks; `cpack -G DEB` stops
# naming them (cmake/CPackChecks.cmake.in).
set(KELMAR_MISSING_PACKAGE_TOOLS "")
set(generated_files "")

# The Debian changelog, compressed without a time stamp.
add_custom_command(
  OUTPUT ${KELMAR_GENERATED_DIR}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${KELMAR_PACKAGING_DIR}/changelog changelog.Debian
  COMMAND ${KELMAR_GZIP} -9nf changelog.Debian
  DEPENDS ${KELMAR_PACKAGING_DIR}/changelog
  WORKING_DIRECTORY ${KELMAR_GENERATED_DIR}
  VERBATIM)
list(APPEND generated_files ${KELMAR_GENERATED_DIR}/changelog.Debian.gz)

# The manual pages, from each program's --help and --version, with the
# sections of packaging/man/*.h2m; kelmar-cli's page also holds the --help
# of the commands that have their own.
if(KELMAR_HELP2MAN)
  set(pages kelmar-cli)
  if(KELMAR_BUILD_GUI)
    list(APPEND pages kelmar)
  endif()
  foreach(page IN LISTS pages)
    set(commands "")
    if(page STREQUAL "kelmar-cli")
      set(commands "batch;merge;check")
    endif()
    add_custom_command(
      OUTPUT ${KELMAR_GENERATED_DIR}/man/${page}.1.gz
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${KELMAR_HELP2MAN} -DGZIP=${KELMAR_GZIP} -DPROGRAM=$<TARGET_FILE:${page}>
              -DINCLUDE=${KELMAR_PACKAGING_DIR}/man/${page}.h2m "-DCOMMANDS=${commands}"
              -DOUTPUT=${KELMAR_GENERATED_DIR}/man/${page}.1.gz -P ${PROJECT_SOURCE_DIR}/cmake/MakeManPage.cmake
      DEPENDS ${page} ${KELMAR_PACKAGING_DIR}/man/${page}.h2m ${PROJECT_SOURCE_DIR}/cmake/MakeManPage.cmake
      VERBATIM)
    list(APPEND generated_files ${KELMAR_GENERATED_DIR}/man/${page}.1.gz)
  endforeach()
else()
  message(WARNING "help2man not found: the manual pages of kelmar and kelmar-cli are not made, and `cpack -G DEB` "
                  "will refuse to build the package. Install Debian's package help2man (scripts/install-deps.sh), "
                  "then configure again.")
  list(APPEND KELMAR_MISSING_PACKAGE_TOOLS "help2man (Debian package help2man), for the manual pages")
endif()

# The bash completion of kelmar-cli, from `kelmar-cli --completion-words`.
add_custom_command(
  OUTPUT ${KELMAR_GENERATED_DIR}/kelmar-cli.bash
  COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:kelmar-cli> -DTEMPLATE=${KELMAR_PACKAGING_DIR}/kelmar-cli.bash.in
          -DOUTPUT=${KELMAR_GENERATED_DIR}/kelmar-cli.bash -P ${PROJECT_SOURCE_DIR}/cmake/MakeCompletion.cmake
  DEPENDS kelmar-cli ${KELMAR_PACKAGING_DIR}/kelmar-cli.bash.in ${PROJECT_SOURCE_DIR}/cmake/MakeCompletion.cmake
  VERBATIM)
list(APPEND generated_files ${KELMAR_GENERATED_DIR}/kelmar-cli.bash)

# The icon at the sizes of the hicolor theme, rendered from the SVG.
set(KELMAR_ICON_SIZES 16 22 24 32 48 64 128 256)
if(KELMAR_BUILD_GUI)
  if(KELMAR_RSVG_CONVERT)
    foreach(size IN LISTS KELMAR_ICON_SIZES)
      add_custom_command(
        OUTPUT ${KELMAR_GENERATED_DIR}/icons/${size}.png
        COMMAND ${KELMAR_RSVG_CONVERT} --width=${size} --height=${size} --format=png
                --output=${KELMAR_GENERATED_DIR}/icons/${size}.png ${KELMAR_PACKAGING_DIR}/kelmar.svg
        DEPENDS ${KELMAR_PACKAGING_DIR}/kelmar.svg
        VERBATIM)
      list(APPEND generated_files ${KELMAR_GENERATED_DIR}/icons/${size}.png)
    endforeach()
  else()
    message(WARNING "rsvg-convert not found: the window's icon is installed as SVG only, and `cpack -G DEB` will "
                    "refuse to build the package. Install Debian's package librsvg2-bin (scripts/install-deps.sh), "
                    "then configure again.")
    list(APPEND KELMAR_MISSING_PACKAGE_TOOLS "rsvg-convert (Debian package librsvg2-bin), for the PNG icons")
  endif()
endif()
add_custom_target(kelmar_packaging_files ALL DEPENDS ${generated_files})

# --- Install rules: data first, programs last --------------------------------
install(FILES ${KELMAR_GENERATED_DIR}/kelmar-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kelmar-cli)
if(KELMAR_HELP2MAN)
  foreach(page IN LISTS pages)
    install(FILES ${KELMAR_GENERATED_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endif()

# The documentation: README, examples (not executable: they are read and
# copied, as Debian wants of /usr/share/doc), copyright, changelog.
install(FILES README.md ${KELMAR_PACKAGING_DIR}/copyright ${KELMAR_GENERATED_DIR}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# What lintian is told about a package made outside Debian's archive.
install(FILES ${KELMAR_PACKAGING_DIR}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME kelmar)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        PATTERN "__pycache__" EXCLUDE)

if(KELMAR_BUILD_GUI)
  install(FILES ${KELMAR_GENERATED_DIR}/${KELMAR_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${KELMAR_GENERATED_DIR}/${KELMAR_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${KELMAR_PACKAGING_DIR}/kelmar.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${KELMAR_APP_ID}.svg)
  if(KELMAR_RSVG_CONVERT)
    foreach(size IN LISTS KELMAR_ICON_SIZES)
      install(FILES ${KELMAR_GENERATED_DIR}/icons/${size}.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${KELMAR_APP_ID}.png)
    endforeach()
  endif()
  # The figure module of kelmar-cli check, in its private folder.
  install(TARGETS kelmar_check_figure LIBRARY DESTINATION ${KELMAR_INSTALL_MODULEDIR})
  # The map module of kelmar-cli map, beside it.
  install(TARGETS kelmar_region_map LIBRARY DESTINATION ${KELMAR_INSTALL_MODULEDIR})
endif()

# The Python package: the extension and the pure Python files beside it,
# with its type stub and marker (py.typed) and the interpreter it is built for.
if(KELMAR_BUILD_PYTHON)
  install(DIRECTORY src/python/kelmar/ DESTINATION ${KELMAR_INSTALL_PYTHONDIR}/kelmar
          FILES_MATCHING PATTERN "*.py" PATTERN "*.pyi" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
  install(FILES ${KELMAR_PYTHON_DIR}/kelmar/_build.py DESTINATION ${KELMAR_INSTALL_PYTHONDIR}/kelmar)
  install(TARGETS _kelmar LIBRARY DESTINATION ${KELMAR_INSTALL_PYTHONDIR}/kelmar)
endif()

# The netCDF writer kelmar-cli loads for a batch or merge that writes
# netCDF, in the same private folder; before the programs, as the figure module.
install(TARGETS kelmar_netcdf_module LIBRARY DESTINATION ${KELMAR_INSTALL_MODULEDIR})
install(TARGETS kelmar-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(KELMAR_BUILD_GUI)
  install(TARGETS kelmar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# --- The Debian package ------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelmar)
set(CPACK_PACKAGE_VENDOR "The KELMAR developers")
set(CPACK_PACKAGE_CONTACT "${KELMAR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "soil climate of forest sites: window, command-line tool, Python module")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KELMAR_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KELMAR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The shared libraries the programs and modules use, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The long description; CPack puts the summary line before it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "KELMAR simulates, month by month over up to 500 years, the temperature and\n"
  "the moisture of the organic forest floor and of the mineral soil beneath it\n"
  "at a forest site, or at thousands of sites at once. It drives a monthly\n"
  "snow, heat and water balance with an observed weather record or with a\n"
  "stochastic weather generator, and gives a soil climate for decomposition\n"
  "and carbon models.\n"
  ".\n"
  "The package holds the window kelmar, the command-line tool kelmar-cli\n"
  "(single runs, climate scenarios, ensembles, batches of many sites, a check\n"
  "of the weather generator against a record) and the Python module kelmar.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
if(KELMAR_BUILD_PYTHON)
  # The extension is built for one version of the interpreter; the module
  # imports numpy and pandas, xarray for the netCDF and Dataset results, and
  # distributed for kelmar.dask.
  math(EXPR next_minor "${PYTHON_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= ${PYTHON_VERSION_MAJOR}.${PYTHON_VERSION_MINOR}), python3 (<< ${PYTHON_VERSION_MAJOR}.${next_minor}), python3-numpy, python3-pandas")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-xarray, python3-netcdf4")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-distributed, python3-matplotlib")
  # The package's Python files byte-compiled on install and their caches
  # removed before removal, as Debian's Python packages have it.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KELMAR_PACKAGING_DIR}/debian/postinst ${KELMAR_PACKAGING_DIR}/debian/prerm)
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/CPackChecks.cmake.in ${KELMAR_GENERATED_DIR}/CPackChecks.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${KELMAR_GENERATED_DIR}/CPackChecks.cmake)
include(CPack)
