# Runs the plunge example through kvhost, as a CAM host runs the library, and
# checks the POF text that the core library wrote into the file named by the
# parameters ("pofFilename", in the run's working folder).
#   cmake -DKVHOST=<kvhost> -DWORK=<folder> -DPARAMS=<parameter file without .pcf> -P run.cmake
file(MAKE_DIRECTORY ${WORK})
file(REMOVE ${WORK}/impeller.pof)  # the output is appended to: start afresh
execute_process(COMMAND ${KVHOST} --dir ${WORK} -- -S${PARAMS}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
message("${out}${err}")
# The plunge computation is not built yet: the run ends with the status word 1.
if(NOT out MATCHES "cycle: obtained\n.*run 1: started=1 status=1 ")
  message(FATAL_ERROR "the run did not start or did not end as expected")
endif()
if(NOT EXISTS ${WORK}/impeller.pof)
  message(FATAL_ERROR "no POF output in ${WORK}/impeller.pof")
endif()
file(READ ${WORK}/impeller.pof pof)
message("impeller.pof:\n${pof}")
foreach(line
    "0 103 name=\"cycle\" value=\"3D 5-Axis Impeller Plunge Roughing\""
    "0 110 name=\"layers\" value=\"3,32,12,20,35,36,41,42\""
    "0 104 name=\"cycleEnd\" value=\"3D 5-Axis Impeller Plunge Roughing\"")
  string(FIND "${pof}" "${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "impeller.pof lacks the line: ${line}")
  endif()
endforeach()
