#include "net/tcp/IdIOHandler.h"

TIdIOHandler::TIdIOHandler(TIdBaseComponent* owner) : TIdComponent(owner) {}

TIdIOHandler::~TIdIOHandler() {
    TIdIOHandler::CloseTransport();
}

void TIdIOHandler::ConnectTransport(const std::string&, int32_t, const std::string&, int32_t, int32_t, int32_t,
                                    int32_t) {}
