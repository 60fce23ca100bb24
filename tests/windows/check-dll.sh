#!/bin/sh
# Checks the Windows plug-in DLL's interface from its PE headers, on the build
# machine:
#   check-dll.sh exports OBJDUMP DLL   exactly plugMain and SetLogCallback, by
#                                      their plain names, and nothing else
#   check-dll.sh imports OBJDUMP DLL   only DLLs that every Windows has
set -eu
mode=$1 objdump=$2 dll=$3
headers=$("$objdump" -p "$dll") || { echo "cannot read $dll" >&2; exit 1; }

# Imports allowed, compared without regard to case. A host machine has these
# and nothing else of ours; the C++ runtime, libgcc and winpthread are linked
# in statically.
#   kernel32.dll         threads, locks, clocks, module pinning, debugger output
#   msvcrt.dll           the C runtime mingw-w64 builds against by default...
#   ucrtbase.dll,        ...or the universal C runtime and its API sets, when
#   api-ms-win-crt-*     the toolchain targets that one
#   ws2_32.dll           Winsock: the control channel, SRT, name lookups
#   iphlpapi.dll         GetAdaptersAddresses, for the directed broadcasts
#   opengl32.dll         GL 1.1 and wglGetProcAddress, through which GLEW
#                        loads the rest
#   mfplat.dll, mf.dll   Media Foundation: start-up, decoder enumeration,
#                        media types, samples and buffers
#   ole32.dll            COM start-up and the memory Media Foundation hands out
#   oleaut32.dll         VARIANTs, which ICodecAPI takes its values in
allowed() {
  case $(echo "$1" | tr '[:upper:]' '[:lower:]') in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) return 0 ;;
    ws2_32.dll | iphlpapi.dll | opengl32.dll) return 0 ;;
    mfplat.dll | mf.dll | ole32.dll | oleaut32.dll) return 0 ;;
  esac
  return 1
}

case $mode in
  exports)
    # The name table lists "[   i] name"; a C++ or stdcall-decorated name
    # would show as _Z..., name@8 or _name.
    names=$(echo "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
      sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
    # Entries exported by ordinal only would not show among the names.
    count=$(echo "$headers" | grep -c '+base\[' || true)
    echo "exports: $names(address table entries: $count)"
    if [ "$names" != "SetLogCallback plugMain " ] || [ "$count" -ne 2 ]; then
      echo "FAIL: the DLL must export exactly plugMain and SetLogCallback, undecorated" >&2
      exit 1
    fi
    ;;
  imports)
    dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
    [ -n "$dlls" ] || { echo "FAIL: no import table found" >&2; exit 1; }
    bad=""
    for d in $dlls; do
      echo "imports: $d"
      allowed "$d" || bad="$bad $d"
    done
    if [ -n "$bad" ]; then
      echo "FAIL: imports that are not part of Windows:$bad" >&2
      exit 1
    fi
    ;;
  *)
    echo "usage: check-dll.sh exports|imports OBJDUMP DLL" >&2
    exit 2
    ;;
esac
