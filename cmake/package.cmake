# What `cmake --install` adds beside the programs and the batch script (man
# pages, documents, modulefiles), and the Debian package CPack makes of the
# whole: `cpack -G DEB` in a Release build folder.

# Man pages and the Debian changelog go in gzipped, as Debian keeps them,
# made at installation so that an installation of a few targets has them
# too; gzip -n leaves out the time, so that the same sources give the same
# bytes.
set(QUENDA_GZIPPED "${PROJECT_BINARY_DIR}/gzipped")
install(CODE "
  file(MAKE_DIRECTORY \"${QUENDA_GZIPPED}\")
  foreach(source docs/man/quenda-lite.1 docs/man/quenda-lite-results.1 cmake/debian/changelog)
    get_filename_component(name \"\${source}\" NAME)
    execute_process(COMMAND gzip -9n -c \"${PROJECT_SOURCE_DIR}/\${source}\"
                    OUTPUT_FILE \"${QUENDA_GZIPPED}/\${name}.gz\" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"gzip failed on \${source}\")
    endif()
  endforeach()")
install(FILES "${QUENDA_GZIPPED}/quenda-lite.1.gz" "${QUENDA_GZIPPED}/quenda-lite-results.1.gz"
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(QUENDA_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/quenda-lite)
install(FILES README.md docs/failures.md docs/performance.md docs/reading-the-figures.md
              docs/results-tool.md cmake/debian/copyright "${QUENDA_GZIPPED}/changelog.gz"
        DESTINATION ${QUENDA_DOCDIR})

install(CODE "
  set(QUENDA_VERSION \"${PROJECT_VERSION}\")
  set(QUENDA_MODULEFILE_LUA \"${PROJECT_SOURCE_DIR}/cmake/modulefile.lua.in\")
  set(QUENDA_MODULEFILE_TCL \"${PROJECT_SOURCE_DIR}/cmake/modulefile.tcl.in\")
  set(QUENDA_MODULEFILE_COPIES \"${PROJECT_BINARY_DIR}/installed/modulefiles\")
  set(QUENDA_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(QUENDA_INSTALL_MANDIR \"${CMAKE_INSTALL_MANDIR}\")
  set(QUENDA_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")")
install(SCRIPT cmake/install_modulefiles.cmake)

set(CPACK_PACKAGE_NAME quenda-lite)
set(CPACK_PACKAGE_VENDOR "Quenda Lite maintainers")
set(CPACK_PACKAGE_CONTACT "Quenda Lite maintainers <maintainers@users.noreply.c-seed-300b2583.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "disk and file-system benchmark of a cluster, run as one MPI job")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quenda Lite measures the file system of its working directory as one MPI job:\n"
    "files created and removed per second, one-byte writes and reads, and whole-file\n"
    "reads and writes, first by one process alone and then by every process at once,\n"
    "with the gain and a verdict on whether the nodes differ. quenda-lite-results\n"
    "turns its results files into JSON, CSV, SVG charts and Prometheus metrics.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# dpkg-shlibdeps names the libraries' packages (Open MPI's libopenmpi3, not
# its -dev package); mpirun is needed only where srun does not start the ranks.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "openmpi-bin")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "slurm-client, prometheus-node-exporter, lmod | environment-modules")
set(CPACK_STRIP_FILES ON)
include(CPack)
