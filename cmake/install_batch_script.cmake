# Run by `cmake --install`: installs scripts/quenda-lite.sbatch with the
# folder of the installed programs written into its `installed_bindir=""`
# line, for the prefix this installation goes to.
set(bindir "${QUENDA_INSTALL_BINDIR}")
if(NOT IS_ABSOLUTE "${bindir}")
  set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()
set(datadir "${QUENDA_INSTALL_DATADIR}")
if(NOT IS_ABSOLUTE "${datadir}")
  set(datadir "${CMAKE_INSTALL_PREFIX}/${datadir}")
endif()

file(READ "${QUENDA_BATCH_SCRIPT}" script)
set(placeholder "\ninstalled_bindir=\"\"\n")
string(FIND "${script}" "${placeholder}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${QUENDA_BATCH_SCRIPT} has no line installed_bindir=\"\"")
endif()
string(REPLACE "${placeholder}" "\ninstalled_bindir=\"${bindir}\"\n" script "${script}")
# And the shipped program's plan, for the script's estimate of the run: the
# file-handling cycles and the file length of kFullPlan.
file(STRINGS "${QUENDA_PLAN_HEADER}" plan REGEX "Plan kFullPlan\\{")
if(NOT plan MATCHES "kFullPlan{[0-9]+, ([0-9]+), ([0-9]+)}")
  message(FATAL_ERROR "${QUENDA_PLAN_HEADER} has no kFullPlan{cap, cycles, file length}")
endif()
set(plan_placeholder "\ninstalled_plan=\"\"\n")
string(FIND "${script}" "${plan_placeholder}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${QUENDA_BATCH_SCRIPT} has no line installed_plan=\"\"")
endif()
string(REPLACE "${plan_placeholder}" "\ninstalled_plan=\"${CMAKE_MATCH_1} ${CMAKE_MATCH_2}\"\n"
       script "${script}")
file(WRITE "${QUENDA_BATCH_SCRIPT_COPY}" "${script}")
file(INSTALL "${QUENDA_BATCH_SCRIPT_COPY}" DESTINATION "${datadir}/quenda-lite"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE)
