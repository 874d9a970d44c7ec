#!/usr/bin/env bash
# The shared library exports exactly the functions of include/veltrane.h and
# leaves the C runtime's random generator, the host's, alone.
set -euo pipefail
lib=$1
expected="InitVeltrane InitVeltrane2 InitVeltraneWithCallback ReportMeetingQosInfo ReportMeetingQosInfo3
SecureTransfer_CreateKey SecureTransfer_InitParams SecureTransfer_PostPacket SecureTransfer_PostPacket3
SecureTransfer_ReleaseKey SetStpRc SetVeltraneDir VELT_CovertRecverAddr_Add VELT_CovertRecverAddr_End
VELT_CovertRecverAddr_Start VELT_SetLogCallback VELT_SetLogFile VELT_SetLogLevel VELT_SetQueueLimit"
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TW]$/ {print $3}' | sort)
want=$(echo $expected | tr ' ' '\n' | sort)
if [ "$actual" != "$want" ]; then
  echo "exported functions differ:"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
nm -D --undefined-only "$lib" | grep -wE "s?rand(om)?|rand_r" && { echo "the library calls rand or srand"; exit 1; }
echo "exports ok: $(echo "$actual" | wc -l) functions"
