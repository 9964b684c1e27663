# Where `cmake --install` puts each file, in the two layouts:
#
#   relocatable tree (default)      Debian packages (BRINGUP_PACKAGING, prefix /usr)
#   P/bin/<program>                 /usr/sbin/<tool>, /usr/bin/<demo>
#   P/lib/libdemobase.so*           /usr/lib/<multiarch>/libdemobase.so.0*
#   (RPATH $ORIGIN/../lib)          (no RPATH)
#   P/share/board-bringup/samples   /usr/share/board-bringup/samples
#   (simulated board not installed) /usr/lib/<multiarch>/board-bringup/{boardsim,libboardsim.so}
#   P/lib/libbringup-swapcount.so   /usr/lib/<multiarch>/board-bringup/libbringup-swapcount.so
#
# Each file also belongs to a component, one per package: tools, demos, lib, dev, sim.

# Programs that drive the board's hardware: system administration commands, so /usr/sbin in the
# packages and the `tools` component. Every other program is a user command in the `demos` one.
set(BRINGUP_HARDWARE_TOOLS pcmcapture otgpower otgpoweriddq otgpowersave wlanpower
    bringup-check)
# The packages of the demos and configlist, and of the simulated board: bringup-check names them
# when what they hold is not installed.
set(BRINGUP_DEMOS_PACKAGE board-bringup-demos)
set(BRINGUP_SIM_PACKAGE board-bringup-sim)

if(BRINGUP_PACKAGING)
  if(NOT CMAKE_LIBRARY_ARCHITECTURE)
    message(FATAL_ERROR "packaging needs the compiler's multiarch triplet (CMAKE_LIBRARY_ARCHITECTURE)")
  endif()
  set(BRINGUP_BIN_DIR "bin")
  set(BRINGUP_SBIN_DIR "sbin")
  set(BRINGUP_LIB_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
  # The simulated board's command finds libboardsim.so next to its own executable, so both live
  # in a private folder and /usr/bin/boardsim is a link to the command.
  set(BRINGUP_SIM_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/board-bringup")
  # Libraries only the suite's own programs load (preloads, not for linking): the same private
  # folder, never the public library one.
  set(BRINGUP_PRIVATE_LIB_DIR "${BRINGUP_SIM_DIR}")
  set(BRINGUP_INSTALL_RPATH "")
  set(CMAKE_SKIP_INSTALL_RPATH ON)
  # Debian's hardening: checked buffer functions, stack protector, read-only relocations bound at
  # load time.
  add_compile_options(-D_FORTIFY_SOURCE=2 -fstack-protector-strong)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
else()
  set(BRINGUP_BIN_DIR "bin")
  set(BRINGUP_SBIN_DIR "bin")
  set(BRINGUP_LIB_DIR "lib")
  set(BRINGUP_SIM_DIR "")
  set(BRINGUP_PRIVATE_LIB_DIR "lib")
  set(BRINGUP_INSTALL_RPATH "$ORIGIN/../lib")
endif()
set(CMAKE_INSTALL_RPATH "${BRINGUP_INSTALL_RPATH}")

# bringup_program_place(<target> <component-var> <dir-var>): the component and install folder of a
# shipped program.
function(bringup_program_place target component_var dir_var)
  if(target IN_LIST BRINGUP_HARDWARE_TOOLS)
    set(${component_var} tools PARENT_SCOPE)
    set(${dir_var} ${BRINGUP_SBIN_DIR} PARENT_SCOPE)
  else()
    set(${component_var} demos PARENT_SCOPE)
    set(${dir_var} ${BRINGUP_BIN_DIR} PARENT_SCOPE)
  endif()
endfunction()
