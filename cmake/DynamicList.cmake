# SPDX-License-Identifier: GPL-2.0-or-later
# Writes a linker dynamic list (OUT) naming every symbol the module (MODULE)
# leaves undefined, read with nm (NM): the program exports those it defines
# and no others.
execute_process(COMMAND ${NM} -D --undefined-only ${MODULE} OUTPUT_VARIABLE undefined RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${MODULE}")
endif()
string(REGEX MATCHALL "U [^\n@]+" symbols "${undefined}")
set(text "{\n")
foreach(s ${symbols})
  string(SUBSTRING "${s}" 2 -1 name)
  string(APPEND text "  \"${name}\";\n")
endforeach()
string(APPEND text "};\n")
file(WRITE ${OUT}.tmp "${text}")
file(RENAME ${OUT}.tmp ${OUT})
