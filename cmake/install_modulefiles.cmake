# Run by `cmake --install`: writes the modulefiles of Lmod (Lua) and of
# Environment Modules (Tcl) into <prefix>/share/modulefiles/quenda-lite/,
# naming the folders of this installation's prefix.
foreach(dir BINDIR MANDIR DATADIR)
  set(path "${QUENDA_INSTALL_${dir}}")
  if(NOT IS_ABSOLUTE "${path}")
    set(path "${CMAKE_INSTALL_PREFIX}/${path}")
  endif()
  set(QUENDA_${dir} "${path}")
endforeach()
set(QUENDA_INSTALLED_BATCH_SCRIPT "${QUENDA_DATADIR}/quenda-lite/quenda-lite.sbatch")

configure_file("${QUENDA_MODULEFILE_LUA}" "${QUENDA_MODULEFILE_COPIES}/${QUENDA_VERSION}.lua" @ONLY)
configure_file("${QUENDA_MODULEFILE_TCL}" "${QUENDA_MODULEFILE_COPIES}/${QUENDA_VERSION}" @ONLY)
file(INSTALL "${QUENDA_MODULEFILE_COPIES}/${QUENDA_VERSION}.lua"
             "${QUENDA_MODULEFILE_COPIES}/${QUENDA_VERSION}"
     DESTINATION "${QUENDA_DATADIR}/modulefiles/quenda-lite")
