// The production wiring of SecureTransfer: finished packets go to the report
// session through the coordinator (message 4005). Kept apart from
// SecureTransfer.cpp so that the channel itself links without the
// coordinator and its framework.
#include "api/RouterAccessManager.h"
#include "report/SecureTransfer.h"

SecureTransfer::SecureTransfer()
    : SecureTransfer([](const uint8_t* data, uint32_t length) {
        // Runs inside a send pass, holding SecureTransfer's lock; the
        // coordinator takes its own lock after it, never the other way.
        // The coordinator copies the bytes into its message, so the packet
        // may stay in the resend table.
        RouterAccessManager* coordinator = RouterAccessManager::GetInstance();
        if (coordinator != nullptr) coordinator->ReportSecurePacket(data, length);
      }) {}
