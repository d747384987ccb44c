# The receiver build's PC programs.  tappack (which packs the installer)
# and tapemu-seccomp (which makes the sandbox's seccomp filter for the
# machine that runs qemu-mipsel) run on the PC, so the receiver build uses
# those of the PC build folder PC_BUILD (build/host beside build/mipsel
# unless the cache variable says otherwise), and its tests compare with
# that folder's tapemu.  The target pc_programs brings them up to date
# there in one build (two at once in one folder would race), configuring
# the folder first when it has never been configured.
if(CMAKE_CROSSCOMPILING)
  get_filename_component(PC_BUILD_PARENT ${CMAKE_BINARY_DIR} DIRECTORY)
  set(PC_BUILD ${PC_BUILD_PARENT}/host CACHE PATH
      "PC build folder whose tappack, tapemu-seccomp and tapemu this receiver build uses (built there when needed)")
  add_custom_target(pc_programs
      COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DPC_BUILD=${PC_BUILD}
              "-DTARGETS=tappack;tapemu-seccomp" -P ${PROJECT_SOURCE_DIR}/cmake/BuildOnPc.cmake
      BYPRODUCTS ${PC_BUILD}/tappack ${PC_BUILD}/tapemu-seccomp
      COMMENT "Bringing tappack and tapemu-seccomp up to date in ${PC_BUILD}"
      VERBATIM)
endif()
