// Defaults of the abstract session.
#include "server/store/vantro_session.h"

#include "platform/win/message_box.h"

CAbstractVantroFolder* CAbstractVantroSession::OpenStockFolder(const std::string& /*key*/) {
    ShowMessageBox("OpenStockFolder not implemented");
    return nullptr;
}

bool CAbstractVantroSession::StoreNames(const std::string& a, const std::string& b) {
    names_.insert({a, b});
    return true;
}
