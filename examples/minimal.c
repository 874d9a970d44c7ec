/* The smallest host: start the library against an STPRC server, report one
 * record, give it a moment to leave, exit. Usage: minimal STPRC_IP STPRC_PORT */
#include <stdlib.h>
#include <string.h>

#include "veltrane.h"

/* A Windows host sleeps with the system's call: its C library has no
 * <threads.h>. */
#if defined(_WIN32)
#include <windows.h>
static void SleepOneSecond(void) { Sleep(1000); }
#else
#include <threads.h>
static void SleepOneSecond(void) { thrd_sleep(&(struct timespec){.tv_sec = 1}, NULL); }
#endif

int main(int argc, char** argv) {
  static const char record[] = "minimal example record";
  char stprcIp[16] = {0}; /* the library reads the whole 16-byte field */
  if (argc != 3) return 2;
  strncpy(stprcIp, argv[1], sizeof stprcIp - 1);
  if (InitVeltrane(0, 0, "127.0.0.1", 0, 0, 0, stprcIp, (uint16_t)atoi(argv[2])) != 0) return 1;
  SleepOneSecond(); /* the QoS server is learnt from STPRC */
  if (ReportMeetingQosInfo(record, sizeof record - 1) != 0) return 1;
  SleepOneSecond(); /* the record leaves from a library thread */
  return 0;
}
