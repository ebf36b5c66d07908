// Message ports. Scripts on other systems reach each other's public ports;
// no such ports exist here, so creating one fails and a message finds no
// port to go to. Either way the port's name is the error's detail.
#include "core/errcodes.h"
#include "core/errors.h"
#include "platform/linux/linux_backend.h"

namespace linux_backend {

void* PollNativeMessage() { return nullptr; }

int CreateMessagePort(const char* name) {
    SetErrorDetail(name ? name : "");
    return ERR_CREATEPORT;
}

int SendPortMessage(const char* name) {
    SetErrorDetail(name ? name : "");
    return ERR_FINDPORT;
}

}  // namespace linux_backend
