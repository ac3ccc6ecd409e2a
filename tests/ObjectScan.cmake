# What the checks on object files share, included by each: the tools
# (OBJDUMP and NM, binutils' or LLVM's; objdump and nm if not given), the
# objects (OBJECTS, separated by spaces or '|') in `objects`, and what the
# tools print of one, any failure of theirs failing the check.
cmake_policy(VERSION 3.25)
if(NOT OBJDUMP)
  set(OBJDUMP objdump)
endif()
if(NOT NM)
  set(NM nm)
endif()
string(REPLACE "|" " " objects "${OBJECTS}")
separate_arguments(objects UNIX_COMMAND "${objects}")

# In var, what the command (the arguments after object) prints of object.
function(object_dump var object)
  execute_process(COMMAND ${ARGN} ${object} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed on ${object}")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

# The disassembly of object, which binutils and llvm-objdump both open with
# its file format.
function(object_code var object)
  object_dump(code ${object} ${OBJDUMP} -d --no-show-raw-insn)
  if(NOT code MATCHES "file format")
    message(FATAL_ERROR "${OBJDUMP} -d printed no code of ${object}")
  endif()
  set(${var} "${code}" PARENT_SCOPE)
endfunction()

# The Id of the row of src/normalmap/Kernels.def whose file object was
# compiled from, "" for any other object.
function(kernel_of var object)
  set(${var} "" PARENT_SCOPE)
  if(object MATCHES "/RowKernels([A-Za-z0-9]+)\\.cpp\\.o(bj)?$")
    set(${var} ${CMAKE_MATCH_1} PARENT_SCOPE)
  endif()
endfunction()

# kernels as a list in var: '|'-separated Ids, each maybe with ":" and more
# after it. Fails unless each Id has its object, so that a check reads every
# kernel it is told of.
function(kernel_list var kernels)
  string(REPLACE "|" ";" items "${kernels}")
  set(missing ${items})
  list(TRANSFORM missing REPLACE ":.*" "")
  foreach(object IN LISTS objects)
    kernel_of(id ${object})
    list(REMOVE_ITEM missing "${id}")
  endforeach()
  if(missing)
    message(FATAL_ERROR "no object of the kernels ${missing} among: ${OBJECTS}")
  endif()
  set(${var} ${items} PARENT_SCOPE)
endfunction()

# A regular expression for the C++ name of a global function as nm prints
# it: Itanium (_Z<length><name>) or Microsoft (?<name>@) mangling.
function(function_symbol var name)
  string(LENGTH ${name} length)
  set(${var} "(_Z${length}${name}|\\?${name}@)" PARENT_SCOPE)
endfunction()
