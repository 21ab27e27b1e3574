// Starting and ending the store engine.
#include "server/mapi/mapi_initializer.h"

#include "server/mapi/mapi_exception.h"

namespace {

HRESULT StartEngine() {
    MAPIINIT_0 init{MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS};
    return MAPIInitialize(&init);
}

}  // namespace

CMapiInitializer::CMapiInitializer() : result_(StartEngine()) {
    MapiCheck(result_, "MAPIInitialize");
}

CMapiInitializer::CMapiInitializer(std::nothrow_t) : result_(StartEngine()) {}

CMapiInitializer::~CMapiInitializer() {
    if (Started()) MAPIUninitialize();
}
