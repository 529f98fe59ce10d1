# Fails when a name that the Microsoft-ABI host imports from quillmore.dll
# is not exported by it: the names its object file asks for (__imp_<name>)
# and those its executable's import table names for quillmore.dll; or when
# the object asks for fewer than the class's 54 public members (50 methods,
# two constructors, the destructor and the assignment).
#   cmake -DDLL= -DOBJ= -DEXE= -DNM=<llvm-nm> -DREADOBJ=<llvm-readobj> -P this
cmake_policy(VERSION 3.25)
function(output var)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

output(out ${READOBJ} --coff-exports ${DLL})
string(REGEX MATCHALL "Name: [^\n]+" rows "${out}")
list(TRANSFORM rows REPLACE "^Name: " "")

output(out ${NM} -u ${OBJ})
string(REGEX MATCHALL "__imp_[^\n]*CQuillmoreExt[^\n]*" wanted "${out}")
list(TRANSFORM wanted REPLACE "^__imp_" "")
list(LENGTH wanted count)
if(count LESS 54)
  message(FATAL_ERROR "the host's object imports only ${count} names")
endif()
output(out ${READOBJ} --coff-imports ${EXE})
string(REGEX MATCH "Name: quillmore.dll\n.*" out "${out}")
string(REGEX REPLACE "\n}.*" "" out "${out}")
string(REGEX MATCHALL "Symbol: [^ \n]+" linked "${out}")
list(TRANSFORM linked REPLACE "^Symbol: " "")
foreach(name IN LISTS wanted linked)
  if(NOT name IN_LIST rows)
    message(FATAL_ERROR "quillmore.dll does not export ${name}")
  endif()
endforeach()
list(LENGTH linked linked_count)
message(STATUS "the ${count} names the object imports and the ${linked_count} "
               "the executable imports are all exported")
