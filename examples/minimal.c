/* The smallest host: start the library against an STPRC server, report one
 * record, give it a moment to leave, exit. Usage: minimal STPRC_IP STPRC_PORT */
#include <stdlib.h>
#include <string.h>
#include <threads.h>

#include "veltrane.h"

int main(int argc, char** argv) {
  static const char record[] = "minimal example record";
  char stprcIp[16] = {0}; /* the library reads the whole 16-byte field */
  if (argc != 3) return 2;
  strncpy(stprcIp, argv[1], sizeof stprcIp - 1);
  if (InitVeltrane(0, 0, "127.0.0.1", 0, 0, 0, stprcIp, (uint16_t)atoi(argv[2])) != 0) return 1;
  thrd_sleep(&(struct timespec){.tv_sec = 1}, NULL); /* the QoS server is learnt from STPRC */
  if (ReportMeetingQosInfo(record, sizeof record - 1) != 0) return 1;
  thrd_sleep(&(struct timespec){.tv_sec = 1}, NULL); /* the record leaves from a library thread */
  return 0;
}
