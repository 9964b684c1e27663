# Debian packages, one per install component (make package; BRINGUP_PACKAGING builds only):
#
#   board-bringup-tools   tools   the hardware tools in /usr/sbin, the USB daemons' service units
#   board-bringup-demos   demos   the ETC1 demos and configlist in /usr/bin, the demos' folders
#   libdemobase0          lib     libdemobase.so.0 in /usr/lib/<multiarch>
#   libdemobase-dev       dev     headers, libdemobase.so, demobase.pc, the CMake package
#   board-bringup-sim     sim     the simulated board: boardsim and libboardsim.so
#   board-bringup-sim-dkms dkms   the simulated board as a kernel module, source for DKMS (all)
#
# Every package carries the copyright file and the changelog made from CHANGELOG.md.

# The USB power daemons' service units and the maintainer scripts that register them are made in
# every build, so that the tests can check them; the rest only for the packages.
set(BRINGUP_UNITS otgpower otgpoweriddq otgpowersave)
# The controller as the daemons find it, taken from their header: the driver's version attribute
# (/sys/bus/<subsystem>/drivers/<driver>/version) and port 0's device, whose systemd unit is named
# after its path.
file(STRINGS ${PROJECT_SOURCE_DIR}/include/bringup/otg.h otg_defines REGEX "^#define OTG_(VERSION_PATH|PORT_DIR_PREFIX) ")
string(REGEX REPLACE ".*OTG_VERSION_PATH \"([^\"]*)\".*" "\\1" OTG_VERSION_PATH "${otg_defines}")
string(REGEX REPLACE ".*OTG_PORT_DIR_PREFIX \"([^\"]*)\".*" "\\1" otg_port_prefix "${otg_defines}")
string(REGEX REPLACE "^/sys/bus/([^/]+)/drivers/([^/]+)/version$" "\\1" OTG_SUBSYSTEM "${OTG_VERSION_PATH}")
string(REGEX REPLACE "^/sys/bus/([^/]+)/drivers/([^/]+)/version$" "\\2" OTG_DRIVER "${OTG_VERSION_PATH}")
string(SUBSTRING "${otg_port_prefix}0" 1 -1 PORT0_DEVICE_UNIT)
string(REPLACE "/" "-" PORT0_DEVICE_UNIT "${PORT0_DEVICE_UNIT}.device")
configure_file(${PROJECT_SOURCE_DIR}/packaging/udev/usbpower.rules.in
  ${CMAKE_BINARY_DIR}/packaging/udev/60-board-bringup-usbpower.rules @ONLY)
if(BRINGUP_PACKAGING)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/udev/60-board-bringup-usbpower.rules
    DESTINATION lib/udev/rules.d COMPONENT tools)
endif()
set(daemon_otgpower "USB OTG port power daemon (sleep-mode PHY)")
set(daemon_otgpoweriddq "USB OTG port power daemon (IDDQ PHY)")
set(daemon_otgpowersave "USB OTG port power daemon (port 0 power saving)")
foreach(DAEMON ${BRINGUP_UNITS})
  set(DESCRIPTION "${daemon_${DAEMON}}")
  set(CONFLICTS ${BRINGUP_UNITS})
  list(REMOVE_ITEM CONFLICTS ${DAEMON})
  list(TRANSFORM CONFLICTS APPEND .service)
  list(JOIN CONFLICTS " " CONFLICTS)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/systemd/usbpower.service.in
    ${CMAKE_BINARY_DIR}/packaging/systemd/${DAEMON}.service @ONLY)
  if(BRINGUP_PACKAGING)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/systemd/${DAEMON}.service
      DESTINATION lib/systemd/system COMPONENT tools)
  endif()
endforeach()

# The maintainer scripts of board-bringup-tools: the units are registered disabled, stopped on
# removal and forgotten on purge.
set(UNITS ${BRINGUP_UNITS})
list(TRANSFORM UNITS APPEND .service)
list(JOIN UNITS " " UNITS)
set(BRINGUP_TOOLS_SCRIPTS "")
foreach(script postinst prerm postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${script}.in
    ${CMAKE_BINARY_DIR}/packaging/debian/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND BRINGUP_TOOLS_SCRIPTS ${CMAKE_BINARY_DIR}/packaging/debian/${script})
endforeach()

if(NOT BRINGUP_PACKAGING)
  return()
endif()

set(BRINGUP_MAINTAINER "The board bring-up suite developers <maintainers@board-bringup.example>")
set(BRINGUP_SOURCE_PACKAGE board-bringup)
set(BRINGUP_DEBIAN_REVISION 1)
set(BRINGUP_PACKAGE_VERSION ${PROJECT_VERSION}-${BRINGUP_DEBIAN_REVISION})

# The Debian architecture of the target (not of the machine building it).
set(BRINGUP_DEB_ARCHES "x86_64=amd64" "aarch64=arm64")
foreach(pair ${BRINGUP_DEB_ARCHES})
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 cpu)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL cpu)
    list(GET pair 1 BRINGUP_DEB_ARCH)
  endif()
endforeach()
if(NOT BRINGUP_DEB_ARCH)
  message(FATAL_ERROR "no Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
endif()
# For packaging/make-packages.sh, which picks the packages made out by their architecture.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/deb-architecture "${BRINGUP_DEB_ARCH}\n")

# --- the components' files beyond the programs and the library -------------------------------

# The simulated board's command finds libboardsim.so beside its own executable (after resolving
# links), so both go to a private folder and /usr/bin/boardsim links to the command.
install(TARGETS boardsim RUNTIME DESTINATION ${BRINGUP_SIM_DIR} COMPONENT sim)
install(TARGETS boardsim_preload LIBRARY DESTINATION ${BRINGUP_SIM_DIR} COMPONENT sim)
file(RELATIVE_PATH sim_link_target /usr/${BRINGUP_BIN_DIR} /usr/${BRINGUP_SIM_DIR}/boardsim)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
file(CREATE_LINK ${sim_link_target} ${CMAKE_BINARY_DIR}/packaging/boardsim SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/boardsim DESTINATION ${BRINGUP_BIN_DIR} COMPONENT sim)

# The kernel board's source as DKMS takes it, laid out by kernel/layout.sh when installing (the
# module's sources and the protocol headers it includes under include/), then its dkms.conf with the
# name and version. The layout empties its folder first, so it comes before dkms.conf.
set(DKMS_NAME bringup_sim)
set(DKMS_VERSION ${PROJECT_VERSION})
set(dkms_dir src/${DKMS_NAME}-${DKMS_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/kernel/dkms.conf ${CMAKE_BINARY_DIR}/packaging/dkms/dkms.conf @ONLY)
install(CODE "execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/kernel/layout.sh
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dkms_dir}\" COMMAND_ERROR_IS_FATAL ANY)" COMPONENT dkms)
install(FILES ${CMAKE_BINARY_DIR}/packaging/dkms/dkms.conf DESTINATION ${dkms_dir} COMPONENT dkms)
set(BRINGUP_DKMS_SCRIPTS "")
foreach(script postinst prerm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/dkms-${script}.in
    ${CMAKE_BINARY_DIR}/packaging/dkms/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND BRINGUP_DKMS_SCRIPTS ${CMAKE_BINARY_DIR}/packaging/dkms/${script})
endforeach()

# The Debian changelog: the newest entry of CHANGELOG.md, which must be the project's version.
include(${CMAKE_CURRENT_LIST_DIR}/DebianChangelog.cmake)
bringup_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${BRINGUP_PACKAGE_VERSION}
  ${BRINGUP_SOURCE_PACKAGE} "${BRINGUP_MAINTAINER}" changelog_text changelog_error)
if(changelog_error)
  message(FATAL_ERROR "CHANGELOG.md: ${changelog_error}")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/packaging/changelog.Debian "${changelog_text}")
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/packaging/changelog.Debian RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip failed on the Debian changelog")
endif()

set(MAINTAINER_EMAIL maintainers@board-bringup.example)
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)

# --- the packages --------------------------------------------------------------------------

set(BRINGUP_COMPONENTS tools sim dkms)
if(BRINGUP_GL)
  list(APPEND BRINGUP_COMPONENTS demos lib dev)
endif()

set(pkg_tools board-bringup-tools)
set(section_tools admin)
set(summary_tools "board bring-up tools: audio capture, USB port power, Wi-Fi power")
set(description_tools "Small programs for bringing up an AArch64 board's audio output, USB OTG
controller and Wi-Fi module: pcmcapture records ten seconds of the audio the
driver plays out, otgpower, otgpoweriddq and otgpowersave keep idle USB ports
powered down (with a systemd service unit each, installed disabled), wlanpower
switches the Wi-Fi module on or off, and bringup-check runs the suite on a
board and reports.")
# The maintainer scripts register the daemons' units with deb-systemd-helper.
set(depends_tools "init-system-helpers (>= 1.54~)")

set(pkg_demos ${BRINGUP_DEMOS_PACKAGE})
set(section_demos x11)
set(summary_demos "ETC1 texture demos and EGL configuration lister")
set(description_demos "Three OpenGL ES 2.0 demos of ETC1-compressed textures (lanterna: a mipmapped
texture, veilglass: alpha from a second texture, tilemosaic: a colour and alpha
atlas), each drawing nine textured quads in an X window, with their assets
under /usr/share/board-bringup/samples; and configlist, which lists the EGL
frame-buffer configurations of the default display.")
set(depends_demos "libdemobase0 (= ${BRINGUP_PACKAGE_VERSION})")

set(pkg_lib libdemobase0)
set(section_lib libs)
set(summary_lib "demo framework library for OpenGL ES 2.0 programs")
set(description_lib "The framework the board bring-up demos stand on: an X11 window closed by the
window manager or the Escape key, EGL set-up for OpenGL ES 2.0, shader loading
with the compile log on failure, ETC1 (PKM) mip-chain loading and on-screen
text.")
# The on-screen text reads DejaVu Sans from the system's font folder when the demo's assets/ has no
# copy: every program drawing text through the library needs the font, not only the suite's demos.
set(depends_lib "fonts-dejavu-core")

set(pkg_dev libdemobase-dev)
set(section_dev libdevel)
set(summary_dev "demo framework library for OpenGL ES 2.0 programs - development files")
set(description_dev "Headers, the link library, a pkg-config file (demobase) and a CMake package
(find_package(demobase), target demobase::demobase) for writing demos against
the board bring-up suite's demo framework.")
# The CMake package finds EGL and GLES2 through pkg-config (find_dependency(PkgConfig)), so it needs
# the pkg-config program as much as the .pc files.
set(depends_dev "libdemobase0 (= ${BRINGUP_PACKAGE_VERSION}), libegl-dev, libgles-dev, pkgconf | pkg-config")

set(pkg_sim ${BRINGUP_SIM_PACKAGE})
set(section_sim devel)
set(summary_sim "simulated board for the board bring-up tools")
set(description_sim "A preloaded library (libboardsim.so) and the boardsim command that run the
board bring-up tools unchanged on a host: sysfs paths are redirected into a
board folder, the audio and Wi-Fi power devices are emulated, and every device
and attribute operation is traced. Also for recording a real board's state.")

set(pkg_dkms ${BRINGUP_SIM_PACKAGE}-dkms)
set(section_dkms kernel)
set(summary_dkms "simulated board for the board bring-up tools, as a kernel module")
set(description_dkms "The simulated board's drivers inside Linux, in the module bringup_sim, built
by DKMS: the audio output and Wi-Fi power devices, the USB OTG controller's
bus, port devices, PHY-control device and module power class, at the paths
the board bring-up tools open and with the same model as the preloaded
simulated board, so the tools meet real ioctl dispatch, sysfs rules and device
permissions before the hardware exists.")
set(depends_dkms "dkms")
set(CPACK_DEBIAN_DKMS_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DKMS_PACKAGE_CONTROL_EXTRA ${BRINGUP_DKMS_SCRIPTS})

# bringup-check runs the demos for its EGL and GPU checks (skipped, naming their package, when they
# are missing) and the simulated board's command for --sim.
set(suggests_tools "${pkg_demos}, ${pkg_sim}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${BRINGUP_SOURCE_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The board bring-up suite developers")
set(CPACK_PACKAGE_CONTACT "${BRINGUP_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_COMPONENTS_ALL ${BRINGUP_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${BRINGUP_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${BRINGUP_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BRINGUP_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE ${BRINGUP_SOURCE_PACKAGE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds libdemobase.so.0 in the build tree; the dependency on its package is
# written out below, as the library is built in the same run.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA ${BRINGUP_TOOLS_SCRIPTS})

set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)

# Programs of each package, for the check that each has its manual page.
set(programs_tools pcmcapture otgpower otgpoweriddq otgpowersave wlanpower)
if(TARGET bringup-check)
  list(APPEND programs_tools bringup-check)
endif()
set(programs_demos lanterna veilglass tilemosaic configlist)
set(programs_sim boardsim)

foreach(c ${BRINGUP_COMPONENTS})
  string(TOUPPER ${c} C)
  # lintian overrides: those of every package, the package's own, and one for each program whose
  # manual page source is not written yet.
  file(READ ${PROJECT_SOURCE_DIR}/packaging/lintian/common overrides)
  if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/lintian/${pkg_${c}})
    file(READ ${PROJECT_SOURCE_DIR}/packaging/lintian/${pkg_${c}} own)
    string(APPEND overrides "${own}")
  endif()
  if(c STREQUAL tools)
    # An enabled USB power daemon is also wanted by the controller's port 0 device, so that it
    # starts when the controller's driver binds after boot, not only at boot.
    foreach(unit ${BRINGUP_UNITS})
      string(APPEND overrides "systemd-service-file-refers-to-unusual-wantedby-target ${PORT0_DEVICE_UNIT} "
        "[usr/lib/systemd/system/${unit}.service]\n")
    endforeach()
  endif()
  foreach(program ${programs_${c}})
    file(GLOB page ${PROJECT_SOURCE_DIR}/docs/man/${program}.*scd)
    if(NOT page)
      if(program IN_LIST BRINGUP_HARDWARE_TOOLS)
        set(dir ${BRINGUP_SBIN_DIR})
      else()
        set(dir ${BRINGUP_BIN_DIR})
      endif()
      string(APPEND overrides "# No manual page source for ${program} in docs/man yet.\nno-manual-page [usr/${dir}/${program}]\n")
    endif()
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/lintian/${pkg_${c}} "${overrides}")
  install(FILES ${CMAKE_BINARY_DIR}/packaging/lintian/${pkg_${c}}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${c})

  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${pkg_${c}})
  set(CPACK_DEBIAN_${C}_PACKAGE_SECTION ${section_${c}})
  set(CPACK_DEBIAN_${C}_DESCRIPTION "${summary_${c}}\n${description_${c}}")
  if(depends_${c})
    set(CPACK_DEBIAN_${C}_PACKAGE_DEPENDS "${depends_${c}}")
  endif()
  if(suggests_${c})
    set(CPACK_DEBIAN_${C}_PACKAGE_SUGGESTS "${suggests_${c}}")
  endif()
  install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${pkg_${c}} COMPONENT ${c})
endforeach()

include(CPack)
