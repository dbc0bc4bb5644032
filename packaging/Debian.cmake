# The files Debian wants in every package besides the programs: the change log
# and, once a licence is chosen, the copyright file.

# With Qt's Wayland platform plugin the launcher runs the program natively on a
# Wayland session; without it, under XWayland.
if(CONTROLLER_QT_MAJOR EQUAL 5)
  set(CONTROLLER_QT_WAYLAND_PACKAGE qtwayland5)
else()
  set(CONTROLLER_QT_WAYLAND_PACKAGE qt6-wayland)
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ${CONTROLLER_QT_WAYLAND_PACKAGE})

# "Tue, 08 Dec 2026 12:00:00 +0000" for a date given as YYYY-MM-DD.
function(_controller_rfc2822_date date out_var)
  string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$" matched "${date}")
  if(NOT matched)
    message(FATAL_ERROR "CONTROLLER_RELEASE_DATE must be YYYY-MM-DD, not '${date}'")
  endif()
  set(year ${CMAKE_MATCH_1})
  math(EXPR month "${CMAKE_MATCH_2}")
  math(EXPR day "${CMAKE_MATCH_3}")
  # Zeller's congruence, with January and February counted as months 13 and 14 of the year before.
  set(y ${year})
  set(m ${month})
  if(m LESS 3)
    math(EXPR m "${m} + 12")
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR weekday "(${day} + (13 * (${m} + 1)) / 5 + ${y} + ${y} / 4 - ${y} / 100 + ${y} / 400) % 7")
  set(names Sat Sun Mon Tue Wed Thu Fri)
  list(GET names ${weekday} weekday_name)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  math(EXPR month_index "${month} - 1")
  list(GET months ${month_index} month_name)
  set(${out_var} "${weekday_name}, ${CMAKE_MATCH_3} ${month_name} ${year} 12:00:00 +0000" PARENT_SCOPE)
endfunction()

# controller_debian_changelog(<package> <file>): one entry for the project's version.
function(controller_debian_changelog package file)
  _controller_rfc2822_date("${CONTROLLER_RELEASE_DATE}" date)
  file(WRITE ${file}
    "${package} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${PROJECT_VERSION} of the touch controller companions: the window\n"
    "    program and its command-line program.\n\n"
    " -- ${CONTROLLER_MAINTAINER}  ${date}\n")
endfunction()

# controller_debian_copyright(<file>): the machine-readable copyright file for
# CONTROLLER_COPYRIGHT_HOLDER and CONTROLLER_LICENSE, with the licence's text
# from CONTROLLER_LICENSE_FILE or, for the licences every Debian system has,
# a pointer to /usr/share/common-licenses.
function(controller_debian_copyright file)
  set(common_GPL-2 GPL-2)
  set(common_GPL-2+ GPL-2)
  set(common_GPL-3 GPL-3)
  set(common_GPL-3+ GPL-3)
  set(common_LGPL-2.1 LGPL-2.1)
  set(common_LGPL-2.1+ LGPL-2.1)
  set(common_LGPL-3 LGPL-3)
  set(common_LGPL-3+ LGPL-3)
  set(common_Apache-2.0 Apache-2.0)
  set(common_MPL-2.0 MPL-2.0)
  set(common_CC0-1.0 CC0-1.0)
  set(license "${CONTROLLER_LICENSE}")
  if(CONTROLLER_LICENSE_FILE)
    file(READ "${CONTROLLER_LICENSE_FILE}" text)
    string(REGEX REPLACE "\n+$" "" text "${text}")
    # Each line one space in; an empty line becomes " ." as the format asks.
    string(REGEX REPLACE "\n" "\n " text " ${text}")
    string(REGEX REPLACE "\n [ \t]*\n" "\n .\n" text "${text}")
    string(REGEX REPLACE "\n [ \t]*\n" "\n .\n" text "${text}")
  elseif(DEFINED common_${license})
    set(text " On Debian systems, the complete text of this licence can be found in\n"
             " \"/usr/share/common-licenses/${common_${license}}\".")
    string(CONCAT text ${text})
  else()
    message(FATAL_ERROR "CONTROLLER_LICENSE ${license} needs its text in CONTROLLER_LICENSE_FILE")
  endif()
  file(WRITE ${file}
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: touch-controller\n"
    "Source: ${CONTROLLER_HOMEPAGE}\n\n"
    "Files: *\n"
    "Copyright: ${CONTROLLER_COPYRIGHT_HOLDER}\n"
    "License: ${license}\n\n"
    "License: ${license}\n"
    "${text}\n")
endfunction()

# The SPDX expression of a licence given by its Debian short name.
function(controller_spdx_license license out_var)
  set(spdx_GPL-2 GPL-2.0-only)
  set(spdx_GPL-2+ GPL-2.0-or-later)
  set(spdx_GPL-3 GPL-3.0-only)
  set(spdx_GPL-3+ GPL-3.0-or-later)
  set(spdx_LGPL-2.1 LGPL-2.1-only)
  set(spdx_LGPL-2.1+ LGPL-2.1-or-later)
  set(spdx_LGPL-3 LGPL-3.0-only)
  set(spdx_LGPL-3+ LGPL-3.0-or-later)
  set(spdx_Apache-2.0 Apache-2.0)
  set(spdx_MPL-2.0 MPL-2.0)
  set(spdx_CC0-1.0 CC0-1.0)
  set(spdx_Expat MIT)
  set(spdx_BSD-3-clause BSD-3-Clause)
  if(DEFINED spdx_${license})
    set(${out_var} ${spdx_${license}} PARENT_SCOPE)
  else()
    string(REGEX REPLACE "[^A-Za-z0-9.-]" "-" name "${license}")
    set(${out_var} LicenseRef-${name} PARENT_SCOPE)
  endif()
endfunction()
