# Installation layout and Debian packages of both programs.
#
#   bin/<program>                              launcher: per-user working directory, language, X11
#   bin/<family>ctl                            the command-line program
#   lib/<program>/<program>                    the program itself
#   share/<program>/logo.jpg                   window icon file (first program only)
#   share/<program>/translations/*.qm          catalogues, copied as "Controller.qm" by the launcher
#   share/applications/<program>.desktop
#   share/icons/hicolor/<size>/apps/<program>.{png,svg}
#   share/man/man1/<program>.1.gz, <family>ctl.1.gz
#   lib/systemd/system/<family>ctl-metrics.{service,timer}   Prometheus metrics every 15 s, not enabled
#
# Each program is an install component of its own and becomes its own package:
# they serve different controllers and a machine has one kind of touch screen.

set(CONTROLLER_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/Debian.cmake)

# Set by whoever publishes the packages. Until the copyright holder and a
# licence are given, the packages carry no copyright file.
set(CONTROLLER_MAINTAINER "Touch controller developers <maintainers@localhost>" CACHE STRING
    "Maintainer of the Debian packages, as \"Name <address>\"")
set(CONTROLLER_COPYRIGHT_HOLDER "" CACHE STRING
    "Copyright holder for the packages' copyright file, as \"2026 Name\"")
set(CONTROLLER_LICENSE "" CACHE STRING
    "Licence of the programs, by its Debian short name (GPL-3+, Apache-2.0, Expat...)")
set(CONTROLLER_LICENSE_FILE "" CACHE FILEPATH
    "The licence's text; not needed for a licence in /usr/share/common-licenses")
set(CONTROLLER_HOMEPAGE "https://touch-controller.invalid" CACHE STRING
    "Where the project is published; the software centre's screenshots are looked for below it")
set(CONTROLLER_ICON_SIZES 16 32 48 64 128 256)
set(CONTROLLER_PRODUCT_WORD_pravex Pravex)
set(CONTROLLER_PRODUCT_WORD_lunari Lunari)
set(CONTROLLER_DRIVER_FILE_pravex /proc/zazevizuve/communication)
set(CONTROLLER_DRIVER_FILE_lunari /proc/rodurirede/communication)
# Only the first program takes its window icon from "logo.jpg" in its working directory.
set(CONTROLLER_LOGO_FILE_pravex ON)
set(CONTROLLER_LOGO_FILE_lunari OFF)
set(CONTROLLER_PACKAGE_SUMMARY_pravex "companion for Pravex touch-screen controllers")
set(CONTROLLER_PACKAGE_SUMMARY_lunari "companion for Lunari touch-screen controllers")

# What the manual pages say differently of the two programs, in roff.
set(CONTROLLER_MAN_pravex_GRAPH_BUTTON "Test")
set(CONTROLLER_MAN_lunari_GRAPH_BUTTON "Graph")
set(CONTROLLER_MAN_pravex_FILE_ENTRIES ".TP\n.I logo.jpg\nthe window icon, copied there by the launcher\n")
set(CONTROLLER_MAN_lunari_FILE_ENTRIES ".TP\n.I VeDorurerezo.log\nthe driver log, rewritten whenever the driver is found: the sensor layout, then the\nraw and the signal matrix, as \\fBlunarictl log\\fP writes them\n")
set(CONTROLLER_MAN_pravex_LOG_SYNOPSIS "")
set(CONTROLLER_MAN_lunari_LOG_SYNOPSIS ".br\n.B lunarictl\n.B log\n.RI [ FILE ]\n")
set(CONTROLLER_MAN_pravex_LOG_COMMAND "")
set(CONTROLLER_MAN_lunari_LOG_COMMAND ".TP\n.BR log \" [\" \\fIFILE\\fP ]\nWrite the driver log, byte for byte as \\fBlunari_controller\\fP writes it when it finds\nthe driver, to \\fIFILE\\fP or, without one or with\n.BR \\- ,\nstandard output.\n.I FILE\nis replaced whole (see\n.BR FILES ),\nand is looked at before the driver is asked anything.\n")
set(CONTROLLER_MAN_pravex_INTENSITY_SYNOPSIS ".br\n.B pravexctl\n.B intensity\n.I N\n")
set(CONTROLLER_MAN_lunari_INTENSITY_SYNOPSIS "")
set(CONTROLLER_MAN_pravex_INTENSITY_COMMAND ".TP\n.BI intensity \" N\"\nSet the intensity, a whole number from 0 to 255: the command and the status answer\ncarry it as one byte, and only the driver knows which of those values its\ncontroller supports, so the value is read back and a value the driver did\nnot take ends with status 1.\n")
set(CONTROLLER_MAN_lunari_INTENSITY_COMMAND "")
set(CONTROLLER_MAN_pravex_METRICS_EXTRA ".BR pravex_channels ,\n.BR pravex_intensity ,\n")
set(CONTROLLER_MAN_lunari_METRICS_EXTRA ".B lunari_scan_rate_pending\n(1 while the rate is not measured yet),\n")
set(CONTROLLER_MAN_pravex_STATUS_EXTRA "the channel count and intensity, ")
set(CONTROLLER_MAN_lunari_STATUS_EXTRA "")
set(CONTROLLER_MAN_pravex_SCAN_RATE "the scan rate")
set(CONTROLLER_MAN_lunari_SCAN_RATE "the scan rate (or that it is not ready yet)")
set(CONTROLLER_MAN_pravex_JSON_EXTRA "channelCount \", \" intensity \", \" ")
set(CONTROLLER_MAN_lunari_JSON_EXTRA "fpsPending \", \" ")
set(CONTROLLER_MAN_pravex_WATCH_TEXT "the strongest channel signal with its channel number")
set(CONTROLLER_MAN_lunari_WATCH_TEXT "the touch points with their coordinates (0 to 4095) and the strongest cell of the sensor map")
set(CONTROLLER_MAN_pravex_FRAME_LINE "frame 0.000 graph \\fIthe 128 samples, in hex\\fP")
set(CONTROLLER_MAN_lunari_FRAME_LINE "frame 0.000 matrix \\fIthe sensor map, in hex\\fP touch \\fIthe touch block, in hex\\fP")
set(CONTROLLER_MAN_pravex_VALUES "1023;8;127;200;20")   # area scale, threshold range, refresh period, an example threshold
set(CONTROLLER_MAN_lunari_VALUES "4095;4;50;80;30")
find_program(CONTROLLER_GZIP gzip REQUIRED)

# The launcher finds the program relative to itself, so a package unpacked anywhere runs in place.
file(RELATIVE_PATH CONTROLLER_BIN_TO_PREFIX "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix")
# It looks for Qt's Wayland platform plugin beside the X11 one of the Qt the program is built with.
set(CONTROLLER_QT_PLATFORMS_DIR "")
if(CONTROLLER_QT_MAJOR EQUAL 5)
  if(TARGET Qt5::QXcbIntegrationPlugin)
    get_target_property(_controller_xcb_plugin Qt5::QXcbIntegrationPlugin LOCATION)
    get_filename_component(CONTROLLER_QT_PLATFORMS_DIR "${_controller_xcb_plugin}" DIRECTORY)
  endif()
elseif(QT6_INSTALL_PLUGINS)
  get_filename_component(CONTROLLER_QT_PLATFORMS_DIR "${QT6_INSTALL_PLUGINS}/platforms" ABSOLUTE
                         BASE_DIR "${QT6_INSTALL_PREFIX}")
endif()

foreach(family pravex lunari)
  set(PROGRAM ${family}_controller)
  set(PRODUCT_WORD ${CONTROLLER_PRODUCT_WORD_${family}})
  set(PROGRAM_BINARY lib/${PROGRAM}/${PROGRAM})
  set(PROGRAM_DATA ${CMAKE_INSTALL_DATADIR}/${PROGRAM})
  set(BIN_TO_PREFIX ${CONTROLLER_BIN_TO_PREFIX})
  set(QT_PLATFORMS_DIR ${CONTROLLER_QT_PLATFORMS_DIR})
  set(QT_WAYLAND_PACKAGE ${CONTROLLER_QT_WAYLAND_PACKAGE})
  set(generated ${CMAKE_BINARY_DIR}/packaging/${family})
  configure_file(${CONTROLLER_PACKAGING_DIR}/launcher.sh.in ${generated}/${PROGRAM} @ONLY)
  configure_file(${CONTROLLER_PACKAGING_DIR}/controller.desktop.in ${generated}/${PROGRAM}.desktop @ONLY)

  # Manual pages of the window program and the command-line program, compressed as Debian wants them.
  set(TOOL ${family}ctl)
  set(FAMILY ${family})
  string(TOUPPER ${PROGRAM} PROGRAM_UPPER)
  string(TOUPPER ${TOOL} TOOL_UPPER)
  set(MAN_DATE ${CONTROLLER_RELEASE_DATE})
  set(DRIVER_FILE ${CONTROLLER_DRIVER_FILE_${family}})
  foreach(item GRAPH_BUTTON FILE_ENTRIES LOG_SYNOPSIS LOG_COMMAND INTENSITY_SYNOPSIS INTENSITY_COMMAND METRICS_EXTRA
          STATUS_EXTRA SCAN_RATE JSON_EXTRA WATCH_TEXT FRAME_LINE)
    set(${item} "${CONTROLLER_MAN_${family}_${item}}")
  endforeach()
  list(GET CONTROLLER_MAN_${family}_VALUES 0 AREA_SCALE)
  list(GET CONTROLLER_MAN_${family}_VALUES 1 THRESHOLD_MIN)
  list(GET CONTROLLER_MAN_${family}_VALUES 2 THRESHOLD_MAX)
  list(GET CONTROLLER_MAN_${family}_VALUES 3 POLL_MS)
  list(GET CONTROLLER_MAN_${family}_VALUES 4 THRESHOLD_EXAMPLE)
  set(pages)
  foreach(page ${PROGRAM}:controller ${TOOL}:tool)
    string(REPLACE ":" ";" page ${page})
    list(GET page 0 name)
    list(GET page 1 template)
    configure_file(${CONTROLLER_PACKAGING_DIR}/man/${template}.1.in ${generated}/${name}.1 @ONLY)
    add_custom_command(OUTPUT ${generated}/${name}.1.gz
      COMMAND ${CONTROLLER_GZIP} -9n -c ${generated}/${name}.1 > ${generated}/${name}.1.gz
      DEPENDS ${generated}/${name}.1 VERBATIM)
    list(APPEND pages ${generated}/${name}.1.gz)
  endforeach()
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${family})

  # The change log Debian wants in every package, made from the project's version.
  set(doc ${CMAKE_INSTALL_DATADIR}/doc/${family}-controller)
  controller_debian_changelog(${family}-controller ${generated}/changelog)
  add_custom_command(OUTPUT ${generated}/changelog.gz
    COMMAND ${CONTROLLER_GZIP} -9n -c ${generated}/changelog > ${generated}/changelog.gz
    DEPENDS ${generated}/changelog VERBATIM)
  install(FILES ${generated}/changelog.gz DESTINATION ${doc} COMPONENT ${family})
  if(CONTROLLER_COPYRIGHT_HOLDER AND CONTROLLER_LICENSE)
    controller_debian_copyright(${generated}/copyright)
    install(FILES ${generated}/copyright DESTINATION ${doc} COMPONENT ${family})
  endif()
  # What software centres show: the component's id is the homepage's host, reversed.
  string(REGEX REPLACE "^[a-z]+://([^/:]+).*$" "\\1" host "${CONTROLLER_HOMEPAGE}")
  string(REPLACE "." ";" host_parts "${host}")
  list(REVERSE host_parts)
  string(REPLACE ";" "." APPSTREAM_ID "${host_parts}")
  string(REPLACE "-" "_" APPSTREAM_ID "${APPSTREAM_ID}.${PROGRAM}")
  set(PROJECT_LICENSE_LINE "")
  if(CONTROLLER_LICENSE)
    controller_spdx_license("${CONTROLLER_LICENSE}" spdx)
    set(PROJECT_LICENSE_LINE "  <project_license>${spdx}</project_license>\n")
  endif()
  configure_file(${CONTROLLER_PACKAGING_DIR}/controller.metainfo.xml.in
                 ${generated}/${APPSTREAM_ID}.metainfo.xml @ONLY)
  install(FILES ${generated}/${APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT ${family})

  add_custom_target(${family}_docs ALL DEPENDS ${pages} ${generated}/changelog.gz)

  install(TARGETS ${PROGRAM} RUNTIME DESTINATION lib/${PROGRAM} COMPONENT ${family})
  install(TARGETS ${family}ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${family})
  # The node exporter's textfile collector gets the status every 15 seconds
  # once an administrator enables the timer; the packages enable nothing.
  foreach(unit service timer)
    configure_file(${CONTROLLER_PACKAGING_DIR}/metrics.${unit}.in ${generated}/${TOOL}-metrics.${unit} @ONLY)
    install(FILES ${generated}/${TOOL}-metrics.${unit} DESTINATION lib/systemd/system COMPONENT ${family})
  endforeach()
  # Alerting rules for those metrics, for an administrator to copy into Prometheus.
  configure_file(${CONTROLLER_PACKAGING_DIR}/metrics-alerts.yml.in ${generated}/${TOOL}-alerts.yml @ONLY)
  install(FILES ${generated}/${TOOL}-alerts.yml DESTINATION ${doc}/examples COMPONENT ${family})
  # Stripped as Debian strips: without the compiler's notes either.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(file lib/${PROGRAM}/${PROGRAM} ${CMAKE_INSTALL_BINDIR}/${family}ctl)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${file}\")
      endforeach()
    endif()" COMPONENT ${family})
  install(PROGRAMS ${generated}/${PROGRAM} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${family})
  if(CONTROLLER_LOGO_FILE_${family})
    install(FILES ${CMAKE_SOURCE_DIR}/resources/logo.jpg DESTINATION ${PROGRAM_DATA} COMPONENT ${family})
  endif()
  install(FILES ${CONTROLLER_QM_FILES} DESTINATION ${PROGRAM_DATA}/translations COMPONENT ${family})
  install(FILES ${generated}/${PROGRAM}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${family})
  foreach(size IN LISTS CONTROLLER_ICON_SIZES)
    install(FILES ${CONTROLLER_PACKAGING_DIR}/icons/controller-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${PROGRAM}.png COMPONENT ${family})
  endforeach()
  install(FILES ${CONTROLLER_PACKAGING_DIR}/icons/controller.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${PROGRAM}.svg COMPONENT ${family})

  string(TOUPPER ${family} FAMILY)
  set(CPACK_DEBIAN_${FAMILY}_PACKAGE_NAME ${family}-controller)
  set(CPACK_COMPONENT_${FAMILY}_DISPLAY_NAME "${PRODUCT_WORD} Controller")
  set(CPACK_COMPONENT_${FAMILY}_DESCRIPTION
      "${CONTROLLER_PACKAGE_SUMMARY_${family}}
A desktop utility for the ${PRODUCT_WORD} touch-screen controller: it shows
whether the touch driver is loaded, switches touch output on and off, shows
the scan rate and the controller's product data, runs the three-target
calibration of the whole screen or of a drawn touch area, and shows the live
sensor signals with a detection threshold that can be tuned.")
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME touch-controller)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Touch controller developers")
set(CPACK_PACKAGE_CONTACT "${CONTROLLER_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CONTROLLER_HOMEPAGE}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL pravex lunari)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt runtime libraries (and with them the X11 platform plugin) come from the
# libraries the program links, for whichever Qt it was built against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
