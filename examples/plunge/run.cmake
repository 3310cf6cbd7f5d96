# Runs the plunge example through kvhost, as a CAM host runs the library: the configuration run of
# job.cfg on the bundled impeller, in a work folder that receives the part files, the temporary files
# and the POF text. Prints the run's summary and checks its records.
#   cmake -DKVHOST=<kvhost> -DWORK=<folder> -DEXAMPLE=<examples/plunge folder> -P run.cmake
file(MAKE_DIRECTORY ${WORK})
foreach(name hub.kvx shroud.kvx blade.kvx split.kvx job.cfg)
  file(COPY_FILE ${EXAMPLE}/${name} ${WORK}/${name})
endforeach()
# Messages up to level 9 reach the host: the summary reads its counts from them.
file(APPEND ${WORK}/job.cfg "*REPORT report.txt\n*REPORT_CLASS 9\n")
file(REMOVE ${WORK}/impeller.pof)  # the output is appended to: start afresh
string(TIMESTAMP t0 "%s%f" UTC)
execute_process(COMMAND ${KVHOST} --dir ${WORK} -- -Sjob.cfg
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
string(TIMESTAMP t1 "%s%f" UTC)
file(WRITE ${WORK}/kvhost.txt "${out}${err}")

# The summary: plunges (message 6509), plunges that retract without a departure (6510), the plunge
# blocks of channel 12, run time and status word.
set(status "none")
if(out MATCHES "run 1: started=1 status=([0-9]+) ")
  set(status ${CMAKE_MATCH_1})
endif()
set(plunges "none")
if(out MATCHES "value=\"6509,([0-9]+)\" pair=1")
  set(plunges ${CMAKE_MATCH_1})
endif()
set(straight "none")
if(out MATCHES "value=\"6510,([0-9]+)\" pair=1")
  set(straight ${CMAKE_MATCH_1})
endif()
string(REGEX MATCHALL "ch=12 type=5001 [^\n]*text1=\"plunge\"" blocks "${out}")
list(LENGTH blocks blockCount)
math(EXPR ms "(${t1} - ${t0}) / 1000")
message("plunge run of the example impeller: ${plunges} plunges (${straight} without departure), "
        "${blockCount} plunge blocks, ${ms} ms, status ${status}; the records are in ${WORK}/kvhost.txt")

if(NOT status STREQUAL "0")
  string(REGEX MATCHALL "value=\"[0-9]+,[^\"]*\" pair=1" sent "${out}")
  list(FILTER sent EXCLUDE REGEX "9999,")  # the surface reader's traces
  message(FATAL_ERROR "the run did not end with the status word 0; its messages: ${sent}")
endif()
if(NOT plunges GREATER 0 OR NOT plunges EQUAL blockCount)
  message(FATAL_ERROR "the plunge count ${plunges} is not the number of plunge blocks ${blockCount}")
endif()
if(NOT EXISTS ${WORK}/impeller.pof)
  message(FATAL_ERROR "no POF output in ${WORK}/impeller.pof")
endif()
file(READ ${WORK}/impeller.pof pof)
foreach(line
    "0 103 name=\"cycle\" value=\"3D 5-Axis Impeller Plunge Roughing\""
    "0 110 name=\"layers\" value=\"12,20,35,36,41,42\""
    "0 104 name=\"cycleEnd\" value=\"3D 5-Axis Impeller Plunge Roughing\"")
  string(FIND "${pof}" "${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "impeller.pof lacks the line: ${line}")
  endif()
endforeach()
