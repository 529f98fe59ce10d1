# Builds host/abi_host.cpp as a host compiled for Microsoft's ABI, the way
# an application built with Microsoft's compiler links quillmore.dll: clang
# for TRIPLE (x86_64-pc-windows-msvc or i686-pc-windows-msvc), freestanding
# (no SDK, no C++ runtime: no exceptions, no RTTI, no stack probes), linked
# by lld-link against quillmore.lib, with its C runtime and the one
# KERNEL32 function it calls imported through import libraries that
# llvm-dlltool makes here.
# LAYOUT (tests/abi_layout.cpp) is compiled for TRIPLE too: the records'
# and the class's layouts as such a host sees them.
#   cmake -DCLANG= -DLLD_LINK= -DDLLTOOL= -DTRIPLE= -DSOURCE= -DLAYOUT=
#         -DINCLUDE= -DIMPORT_LIB=<quillmore.lib> -DOUT=<folder> -P this
cmake_policy(VERSION 3.25)
if(TRIPLE MATCHES "^i686")
  set(machine i386)
  set(stdcall "@32")  # KERNEL32's functions are __stdcall on x86
else()
  set(machine i386:x86-64)
  set(stdcall "")
endif()
file(MAKE_DIRECTORY ${OUT})
file(WRITE ${OUT}/msvcrt.def "LIBRARY msvcrt.dll\nEXPORTS\n"
  "printf\nmalloc\nfree\nmemset\nstrlen\nstrcmp\nstrstr\nfopen\nfread\n"
  "fwrite\nfclose\nfflush\n_mkdir\n_heapchk\n_heapwalk\nexit\n")
file(WRITE ${OUT}/kernel32.def "LIBRARY KERNEL32.dll\nEXPORTS\n"
  "GetVolumeInformationA${stdcall}\n")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed: ${command}")
  endif()
endfunction()

run(${DLLTOOL} -m ${machine} -d ${OUT}/msvcrt.def -l ${OUT}/msvcrt.lib)
# -k: the @32 decorates the symbol only; the DLL's name has none.
run(${DLLTOOL} -m ${machine} -k -d ${OUT}/kernel32.def -l ${OUT}/kernel32.lib)
set(flags --target=${TRIPLE} -std=c++17 -O2 -Wall -Wextra -Werror
    -ffreestanding -fno-exceptions -fno-rtti -mno-stack-arg-probe -I${INCLUDE})
run(${CLANG} ${flags} -fsyntax-only ${LAYOUT})
run(${CLANG} ${flags} -c ${SOURCE} -o ${OUT}/abi_host.obj)
run(${LLD_LINK} -nologo -nodefaultlib -subsystem:console -entry:HostStart
    -out:${OUT}/quillmore-abi-host.exe ${OUT}/abi_host.obj ${IMPORT_LIB}
    ${OUT}/msvcrt.lib ${OUT}/kernel32.lib)
