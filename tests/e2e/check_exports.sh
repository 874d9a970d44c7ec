#!/usr/bin/env bash
# The shared library exports exactly the functions of include/veltrane.h,
# undecorated, and leaves the C runtime's random generator, the host's, alone.
# A Windows DLL (second argument: the cross objdump) must also import nothing
# but system DLLs.
set -euo pipefail
lib=$1
objdump=${2:-objdump}
expected="InitVeltrane InitVeltrane2 InitVeltraneWithCallback ReportMeetingQosInfo ReportMeetingQosInfo3
SecureTransfer_CreateKey SecureTransfer_InitParams SecureTransfer_PostPacket SecureTransfer_PostPacket3
SecureTransfer_ReleaseKey SetStpRc SetVeltraneDir VELT_CovertRecverAddr_Add VELT_CovertRecverAddr_End
VELT_CovertRecverAddr_Start VELT_SetLogCallback VELT_SetLogFile VELT_SetLogLevel VELT_SetQueueLimit"
system_dlls="kernel32.dll msvcrt.dll ws2_32.dll"
if [[ $lib == *.dll ]]; then
  dump=$("$objdump" -p "$lib")
  actual=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $NF}' | sort)
  imports=$(echo "$dump" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
  for dll in $imports; do
    if ! [[ " $system_dlls " == *" $dll "* ]]; then
      echo "imports a DLL that is not part of the system: $dll"
      exit 1
    fi
  done
  echo "imports ok: $(echo $imports)"
else
  actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TW]$/ {print $3}' | sort)
fi
want=$(echo $expected | tr ' ' '\n' | sort)
if [ "$actual" != "$want" ]; then
  echo "exported functions differ:"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
if [[ $lib != *.dll ]] && nm -D --undefined-only "$lib" | grep -wE "s?rand(om)?|rand_r"; then
  echo "the library calls rand or srand"
  exit 1
fi
echo "exports ok: $(echo "$actual" | wc -l) functions"
